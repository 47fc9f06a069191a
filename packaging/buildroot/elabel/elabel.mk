################################################################################
#
# elabel
#
################################################################################

ELABEL_VERSION = 1.0.0
# Point ELABEL_SITE at the project's repository, or build a local tree with
# ELABEL_OVERRIDE_SRCDIR in local.mk.
ELABEL_SITE = https://git.example.invalid/elabel.git
ELABEL_SITE_METHOD = git
ELABEL_LICENSE = Proprietary
ELABEL_LICENSE_FILES = packaging/copyright
ELABEL_DEPENDENCIES = json-c
ELABEL_INSTALL_STAGING = YES

ELABEL_CONF_OPTS = \
	-DBUILD_TESTING=OFF \
	-DCMAKE_BUILD_TYPE=MinSizeRel \
	-DCMAKE_INSTALL_LIBDIR=lib \
	-DELABEL_EEPROM_PAGE=$(BR2_PACKAGE_ELABEL_EEPROM_PAGE)

# i2c-dev at every boot, for elabel and the boot-time recovery.
define ELABEL_INSTALL_MODULES_LOAD
	$(INSTALL) -D -m 0644 /dev/null $(TARGET_DIR)/etc/modules-load.d/elabel.conf
	echo i2c-dev >$(TARGET_DIR)/etc/modules-load.d/elabel.conf
endef
ELABEL_POST_INSTALL_TARGET_HOOKS += ELABEL_INSTALL_MODULES_LOAD

# The unit is installed by the build in /usr/lib/systemd/system.
define ELABEL_INSTALL_INIT_SYSTEMD
	$(INSTALL) -d $(TARGET_DIR)/etc/systemd/system/sysinit.target.wants
	ln -sf ../../../../usr/lib/systemd/system/elabel-recover.service \
		$(TARGET_DIR)/etc/systemd/system/sysinit.target.wants/elabel-recover.service
endef

define ELABEL_INSTALL_INIT_SYSV
	sed -e 's|@ELABEL_IMAGE_PATH@|/usr/bin/elabel-image|' \
		-e 's|@ELABEL_RECORD_DIR@|/var/lib/elabel|' \
		$(@D)/packaging/elabel-recover.init >$(@D)/S05elabel-recover
	$(INSTALL) -D -m 0755 $(@D)/S05elabel-recover $(TARGET_DIR)/etc/init.d/S05elabel-recover
endef

$(eval $(cmake-package))
