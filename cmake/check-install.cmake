# cmake -DBUILD=<tree> -DSTAGE=<dir> -DSBINDIR=.. -DBINDIR=.. -DLIBDIR=.. -DINCLUDEDIR=.. -DMANDIR=.. -DDATADIR=..
#       -DREADELF=<readelf> -DSTAND_INS=ON|OFF [-DMULTIARCH=<triplet>] -P check-install.cmake
# Installs the build tree under STAGE (DESTDIR, prefix /usr) and checks the layout:
# every file in its place, and no build-tree RUNPATH left in the installed programs.
file(REMOVE_RECURSE ${STAGE})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(root ${STAGE}/usr)
if(MULTIARCH AND NOT LIBDIR MATCHES "/${MULTIARCH}$")
  message(SEND_ERROR "libraries go to ${LIBDIR}, not the multiarch directory lib/${MULTIARCH}")
endif()
set(expected ${SBINDIR}/elabel ${BINDIR}/elabel-image ${LIBDIR}/libelabel.so.1
  ${LIBDIR}/libelabel.so ${INCLUDEDIR}/elabel.h ${MANDIR}/man8/elabel.8.gz
  ${MANDIR}/man1/elabel-image.1.gz ${DATADIR}/elabel/elabel-image-label.schema.json
  ${LIBDIR}/pkgconfig/elabel.pc
  ${LIBDIR}/cmake/elabel/elabelConfig.cmake ${LIBDIR}/cmake/elabel/elabelConfigVersion.cmake
  ${UNITDIR}/elabel-recover.service ${DATADIR}/bash-completion/completions/elabel
  ${DATADIR}/bash-completion/completions/elabel-image)
if(STAND_INS)
  list(APPEND expected ${LIBDIR}/libsecurec.so ${LIBDIR}/libquellix.so)
endif()
foreach(path IN LISTS expected)
  if(NOT EXISTS ${root}/${path})
    message(SEND_ERROR "not installed: /usr/${path}")
  endif()
endforeach()

file(READ ${root}/${UNITDIR}/elabel-recover.service unit)
if(NOT unit MATCHES "\nExecStart=/usr/${BINDIR}/elabel-image recover\n")
  message(SEND_ERROR "the unit does not run the installed /usr/${BINDIR}/elabel-image")
endif()

foreach(program ${SBINDIR}/elabel ${BINDIR}/elabel-image)
  execute_process(COMMAND ${READELF} -d ${root}/${program} OUTPUT_VARIABLE dynamic)
  if(dynamic MATCHES "R(UN)?PATH")
    message(SEND_ERROR "the installed /usr/${program} keeps a run-time search path")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE})
