# How other programs find libelabel: elabel.pc for pkg-config and the CMake package
# (find_package(elabel), target elabel::elabel). Both locate the installed tree from
# their own place in it, so they hold for any prefix, a DESTDIR and a cross sysroot.
include(CMakePackageConfigHelpers)
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR})
  message(FATAL_ERROR "elabel.pc and the CMake package need LIBDIR and INCLUDEDIR "
    "relative to the prefix")
endif()

# Writes DIR/NAME from NAME.in, with ELABEL_PREFIX the way up from DIR to the prefix.
function(elabel_development_file dir name)
  file(RELATIVE_PATH ELABEL_PREFIX /p/${dir} /p)
  string(REGEX REPLACE "/$" "" ELABEL_PREFIX "${ELABEL_PREFIX}")
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.in ${CMAKE_BINARY_DIR}/${name} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${name} DESTINATION ${dir} COMPONENT development)
endfunction()

elabel_development_file(${CMAKE_INSTALL_LIBDIR}/pkgconfig elabel.pc)
elabel_development_file(${CMAKE_INSTALL_LIBDIR}/cmake/elabel elabelConfig.cmake)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/elabelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/elabelConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/elabel COMPONENT development)
