SUMMARY = "Electronic label of the board: elabel, elabel-image and libelabel"
DESCRIPTION = "Reads, shows and changes the board's electronic label in its I2C EEPROM; \
elabel-image builds, checks and programs label files and finishes an interrupted write-back at boot."
LICENSE = "CLOSED"

# Point SRC_URI at the project's repository (or use externalsrc) in a bbappend.
SRC_URI = "git://git.example.invalid/elabel.git;protocol=https;branch=main"
SRCREV = "${AUTOREV}"
S = "${WORKDIR}/git"

DEPENDS = "json-c"

inherit cmake systemd update-rc.d

# The label EEPROM's page size (ELABEL_EEPROM_PAGE in docs/bus.md): 32 for a 24C32 or
# 24C64, 64 for a 24C128 or 24C256. A board whose device tree binds at24 to the chip
# needs no other setting: the library then goes through the driver's nvmem file.
ELABEL_EEPROM_PAGE ?= "32"

EXTRA_OECMAKE = " \
    -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DELABEL_EEPROM_PAGE=${ELABEL_EEPROM_PAGE} \
    -DELABEL_SYSTEMD_UNIT_DIR=${@os.path.relpath(d.getVar('systemd_system_unitdir'), d.getVar('prefix'))} \
"

do_install:append() {
    # i2c-dev at every boot, for elabel and the boot-time recovery.
    install -d ${D}${sysconfdir}/modules-load.d
    echo i2c-dev >${D}${sysconfdir}/modules-load.d/elabel.conf
    if ${@bb.utils.contains('DISTRO_FEATURES', 'sysvinit', 'true', 'false', d)}; then
        install -d ${D}${sysconfdir}/init.d
        sed -e 's|@ELABEL_IMAGE_PATH@|${bindir}/elabel-image|' \
            -e 's|@ELABEL_RECORD_DIR@|${localstatedir}/lib/elabel|' \
            ${S}/packaging/elabel-recover.init >${D}${sysconfdir}/init.d/elabel-recover
        chmod 0755 ${D}${sysconfdir}/init.d/elabel-recover
    fi
}

SYSTEMD_SERVICE:${PN} = "elabel-recover.service"
INITSCRIPT_NAME = "elabel-recover"
INITSCRIPT_PARAMS = "start 05 S ."

# The platform libraries keep the unversioned names (libquellix.so, libsecurec.so) of
# the board's own, in ${libdir} where the board image has them: they belong to the
# runtime package, not to -dev.
PACKAGES =+ "${PN}-platform"
FILES:${PN}-platform = "${libdir}/libquellix.so ${libdir}/libsecurec.so"
INSANE_SKIP:${PN}-platform = "dev-so"
FILES:${PN} += "${systemd_system_unitdir} ${sysconfdir}/modules-load.d ${datadir}/elabel"
RDEPENDS:${PN} = "${PN}-platform"
RRECOMMENDS:${PN} = "kernel-module-i2c-dev"
