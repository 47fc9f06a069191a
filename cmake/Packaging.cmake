# Debian packages with CPack: `cpack -G DEB` in a build tree (or the release and
# aarch64 package presets). The architecture follows the compiler's target, and
# each package's C library dependency is read from the built files when cpack runs.
set(ELABEL_BOARD_LIB_PACKAGES "" CACHE STRING
  "Packages that provide the board's own libsecurec and libquellix (with ELABEL_USE_BOARD_LIBS)")

set(ELABEL_MAINTAINER "elabel maintainers <elabel-maintainers@example.org>" CACHE STRING
  "Maintainer of the Debian packages: their Maintainer field and changelog trailer")

set(CPACK_PACKAGE_NAME elabel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ELABEL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_COMPONENTS_ALL elabel runtime development)
if(NOT ELABEL_USE_BOARD_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL platform)
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
endif()

set(CPACK_DEBIAN_ELABEL_PACKAGE_NAME elabel)
set(CPACK_DEBIAN_ELABEL_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ELABEL_DESCRIPTION
  "reads and changes the board's electronic label\nShows the items of the identity label kept in the board's I2C EEPROM and\nchanges the product and system items (elabel). Shows, checks and builds\nlabel image files, and dumps and programs the board's label (elabel-image).")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libelabel1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "electronic label store library\nLoads, verifies, reads, changes and writes back the board's electronic label.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libelabel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "electronic label store library: development files\nThe C header and the link-time library of the label store.")
set(CPACK_DEBIAN_PLATFORM_PACKAGE_NAME elabel-platform)
set(CPACK_DEBIAN_PLATFORM_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PLATFORM_DESCRIPTION
  "platform libraries for the electronic label tools\nBounds-checked memory copies (libsecurec) and the I2C EEPROM library\n(libquellix) for boards that do not ship their own.")

# Every package carries the copyright file and the changelog in its documentation
# directory; the packages with shared libraries let dpkg's trigger run ldconfig, and
# libelabel1 tells dependent packages what to depend on (shlibs).
set(ELABEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
configure_file(${ELABEL_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
elabel_compressed(ELABEL_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog changelog)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  install(FILES ${ELABEL_PACKAGING_DIR}/copyright ${ELABEL_CHANGELOG}
    DESTINATION ${docdir} COMPONENT ${component})
endforeach()

file(WRITE ${CMAKE_BINARY_DIR}/packaging/runtime/shlibs
  "libelabel ${PROJECT_VERSION_MAJOR} libelabel1 (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/packaging/runtime/shlibs ${ELABEL_PACKAGING_DIR}/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# elabel enables the boot-time recovery unit when installed.
set(CPACK_DEBIAN_ELABEL_PACKAGE_CONTROL_EXTRA
  ${ELABEL_PACKAGING_DIR}/elabel/postinst ${ELABEL_PACKAGING_DIR}/elabel/postrm)
set(CPACK_DEBIAN_ELABEL_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
if(NOT ELABEL_USE_BOARD_LIBS)
  set(CPACK_DEBIAN_PLATFORM_PACKAGE_CONTROL_EXTRA ${ELABEL_PACKAGING_DIR}/triggers)
  set(CPACK_DEBIAN_PLATFORM_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  install(FILES ${ELABEL_PACKAGING_DIR}/elabel-platform.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME elabel-platform
    COMPONENT platform)
endif()

# Read when cpack runs, after the build: the C library version each package needs.
set(ELABEL_PACKAGE_FILES_elabel "$<TARGET_FILE:elabel>")
if(ELABEL_IMAGE)
  string(APPEND ELABEL_PACKAGE_FILES_elabel ";$<TARGET_FILE:elabel-image>")
endif()
set(ELABEL_PACKAGE_FILES_runtime $<TARGET_FILE:elabel_store>)
if(NOT ELABEL_USE_BOARD_LIBS)
  set(ELABEL_PACKAGE_FILES_platform "$<TARGET_FILE:securec>;$<TARGET_FILE:quellix>")
endif()
if(NOT CMAKE_READELF)
  find_program(CMAKE_READELF readelf)
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/CPackElabelConfig.cmake CONTENT "\
set(ELABEL_READELF \"${CMAKE_READELF}\")
set(ELABEL_PACKAGE_FILES_elabel \"${ELABEL_PACKAGE_FILES_elabel}\")
set(ELABEL_PACKAGE_FILES_runtime \"${ELABEL_PACKAGE_FILES_runtime}\")
set(ELABEL_PACKAGE_FILES_platform \"${ELABEL_PACKAGE_FILES_platform}\")
set(ELABEL_USE_BOARD_LIBS \"${ELABEL_USE_BOARD_LIBS}\")
set(ELABEL_BOARD_LIB_PACKAGES \"${ELABEL_BOARD_LIB_PACKAGES}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackElabelConfig.cmake)

include(CPack)

if(BUILD_TESTING AND NOT ELABEL_FUZZ)
  add_test(NAME elabel_version_copies
    COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION} -DSOURCE=${PROJECT_SOURCE_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/check-version.cmake)
  set_tests_properties(elabel_version_copies PROPERTIES LABELS install)
endif()
