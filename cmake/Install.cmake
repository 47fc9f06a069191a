# Installed layout (GNUInstallDirs; `cmake --install` honours DESTDIR and --prefix),
# one component per package; LIBDIR is lib/<multiarch triplet> on Debian:
#   elabel       sbin/elabel, bin/elabel-image, share/man/man8/elabel.8.gz,
#                share/man/man1/elabel-image.1.gz, share/elabel/elabel-image-label.schema.json,
#                share/bash-completion/completions/elabel and elabel-image,
#                lib/systemd/system/elabel-recover.service
#   runtime      LIBDIR/libelabel.so.1* (the label store for other programs on the board)
#   development  include/elabel.h, LIBDIR/libelabel.so, LIBDIR/pkgconfig/elabel.pc,
#                LIBDIR/cmake/elabel/ (find_package(elabel), target elabel::elabel)
#   platform     LIBDIR/libsecurec.so, LIBDIR/libquellix.so (this project's stand-ins only)
install(TARGETS elabel RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT elabel)
# Shell completion, where bash-completion loads a command's completion from on first use.
set(ELABEL_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completions/elabel
  DESTINATION ${ELABEL_COMPLETION_DIR} COMPONENT elabel)
if(ELABEL_IMAGE)
  install(TARGETS elabel-image RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT elabel)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/completions/elabel-image
    DESTINATION ${ELABEL_COMPLETION_DIR} COMPONENT elabel)
  # The JSON Schema of show --json's document, beside the manual.
  install(FILES ${PROJECT_SOURCE_DIR}/man/elabel-image-label.schema.json
    DESTINATION ${CMAKE_INSTALL_DATADIR}/elabel COMPONENT elabel)

  # The boot-time recovery of an unfinished write-back, run when a record exists.
  set(ELABEL_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING
    "Where the systemd unit goes, relative to the prefix")
  # Made when installing, so that its command names the prefix installed to (--prefix, cpack).
  set(unit ${CMAKE_BINARY_DIR}/packaging/elabel-recover.service)
  install(CODE "
    set(ELABEL_IMAGE_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/elabel-image\")
    set(ELABEL_RECORD_DIR \"${ELABEL_RECORD_DIR}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/elabel-recover.service.in\" \"${unit}\" @ONLY)
    " COMPONENT elabel)
  install(FILES ${unit} DESTINATION ${ELABEL_SYSTEMD_UNIT_DIR} COMPONENT elabel)
endif()
install(TARGETS elabel_store
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/elabel/src/elabel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
include(cmake/DevelopmentFiles.cmake)
if(NOT ELABEL_USE_BOARD_LIBS)
  install(TARGETS securec quellix LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT platform)
endif()

# Manual pages and the package changelogs are installed compressed, as Debian's policy asks.
find_program(ELABEL_GZIP gzip)
# Sets OUT to the file to install for SOURCE: NAME.gz in the build tree, made with
# gzip -9n, or SOURCE itself without gzip.
function(elabel_compressed out source name)
  if(NOT ELABEL_GZIP)
    set(${out} ${source} PARENT_SCOPE)
    return()
  endif()
  set(compressed ${CMAKE_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${CMAKE_BINARY_DIR}/compressed/${name}
    COMMAND ${ELABEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/compressed/${name}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(compress_${name} ALL DEPENDS ${compressed})
  set(${out} ${compressed} PARENT_SCOPE)
endfunction()

set(pages elabel.8)
if(ELABEL_IMAGE)
  list(APPEND pages elabel-image.1)
endif()
foreach(page IN LISTS pages)
  string(REGEX MATCH "[0-9]$" section ${page})
  elabel_compressed(installed ${PROJECT_SOURCE_DIR}/man/${page} ${page})
  install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT elabel)
endforeach()

if(BUILD_TESTING AND NOT ELABEL_FUZZ)
  if(NOT CMAKE_READELF)
    find_program(CMAKE_READELF readelf REQUIRED)
  endif()
  if(ELABEL_USE_BOARD_LIBS)
    set(stand_ins OFF)
  else()
    set(stand_ins ON)
  endif()
  add_test(NAME elabel_install_layout
    COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DSTAGE=${CMAKE_BINARY_DIR}/install-check
      -DSBINDIR=${CMAKE_INSTALL_SBINDIR} -DBINDIR=${CMAKE_INSTALL_BINDIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR} -DMANDIR=${CMAKE_INSTALL_MANDIR}
      -DDATADIR=${CMAKE_INSTALL_DATADIR} -DREADELF=${CMAKE_READELF} -DSTAND_INS=${stand_ins} -DMULTIARCH=${CMAKE_LIBRARY_ARCHITECTURE}
      -DUNITDIR=${ELABEL_SYSTEMD_UNIT_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/check-install.cmake)
  set_tests_properties(elabel_install_layout PROPERTIES LABELS install)

  # The unit as systemd reads it, its command this build's program.
  if(ELABEL_IMAGE)
    add_test(NAME elabel_recover_unit
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-unit.sh
        ${PROJECT_SOURCE_DIR}/packaging/elabel-recover.service.in $<TARGET_FILE:elabel-image>
        ${ELABEL_RECORD_DIR} ${CMAKE_BINARY_DIR}/unit-check)
    set_tests_properties(elabel_recover_unit PROPERTIES LABELS install SKIP_RETURN_CODE 77)
  endif()

  # A program outside the project, built against an installed tree through pkg-config
  # and through find_package(elabel), run on the simulator (sanitizer builds would need
  # their runtime in it too).
  if(NOT ELABEL_USE_BOARD_LIBS AND NOT ELABEL_SANITIZE)
    get_filename_component(record_parent ${ELABEL_RECORD_DIR} DIRECTORY)
    foreach(route pkg-config cmake)
      add_test(NAME elabel_consumer_${route}
        COMMAND ${PROJECT_SOURCE_DIR}/tests/consumer/run.sh ${route} ${CMAKE_BINARY_DIR}
          ${CMAKE_INSTALL_LIBDIR} ${record_parent} ${CMAKE_C_COMPILER} $<TARGET_FILE:syslog_capture>
          "${CMAKE_TOOLCHAIN_FILE}" "${CMAKE_CROSSCOMPILING_EMULATOR}")
      set_tests_properties(elabel_consumer_${route} PROPERTIES LABELS install SKIP_RETURN_CODE 77)
    endforeach()
  endif()
endif()
