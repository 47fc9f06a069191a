# Installed layout (GNUInstallDirs; `cmake --install` honours DESTDIR and --prefix),
# one component per package:
#   elabel       sbin/elabel, share/man/man8/elabel.8.gz
#   runtime      lib/libelabel.so.1* (the label store for other programs on the board)
#   development  include/elabel.h, lib/libelabel.so
#   platform     lib/libsecurec.so, lib/libquellix.so (this project's stand-ins only)
install(TARGETS elabel RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT elabel)
install(TARGETS elabel_store
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/elabel/src/elabel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(NOT ELABEL_USE_BOARD_LIBS)
  install(TARGETS securec quellix LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT platform)
endif()

# Manual pages are installed compressed, as Debian's policy asks.
set(ELABEL_MAN_SOURCE ${PROJECT_SOURCE_DIR}/man/elabel.8)
find_program(ELABEL_GZIP gzip)
if(ELABEL_GZIP)
  set(ELABEL_MAN_PAGE ${CMAKE_BINARY_DIR}/man/elabel.8.gz)
  add_custom_command(OUTPUT ${ELABEL_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E copy ${ELABEL_MAN_SOURCE} ${CMAKE_BINARY_DIR}/man/elabel.8
    COMMAND ${ELABEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/elabel.8
    DEPENDS ${ELABEL_MAN_SOURCE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(elabel_man ALL DEPENDS ${ELABEL_MAN_PAGE})
else()
  set(ELABEL_MAN_PAGE ${ELABEL_MAN_SOURCE})
endif()
install(FILES ${ELABEL_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT elabel)

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
      -DSBINDIR=${CMAKE_INSTALL_SBINDIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR} -DMANDIR=${CMAKE_INSTALL_MANDIR}
      -DREADELF=${CMAKE_READELF} -DSTAND_INS=${stand_ins}
      -P ${CMAKE_CURRENT_LIST_DIR}/check-install.cmake)
  set_tests_properties(elabel_install_layout PROPERTIES LABELS install)
endif()
