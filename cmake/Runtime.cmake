# The tool and its libraries run on the board with the C library alone: the code
# uses no C++ runtime feature, and anything the compiler might still pull in is
# linked statically instead of becoming a run-time dependency. Sanitizer and
# fuzz builds bring their own runtimes and are left as they are.
set(ELABEL_PRODUCT_TARGETS elabel elabel-image elabel_store securec quellix quellix_sim)

if(NOT ELABEL_SANITIZE AND NOT ELABEL_FUZZ)
  foreach(target IN LISTS ELABEL_PRODUCT_TARGETS)
    if(TARGET ${target})
      get_target_property(imported ${target} IMPORTED)
      if(NOT imported)
        target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
      endif()
    endif()
  endforeach()
endif()

if(NOT BUILD_TESTING OR ELABEL_SANITIZE OR ELABEL_FUZZ)
  return()
endif()

if(NOT CMAKE_READELF)
  find_program(CMAKE_READELF readelf REQUIRED)
endif()
set(checked)
foreach(target IN LISTS ELABEL_PRODUCT_TARGETS)
  if(TARGET ${target})
    get_target_property(imported ${target} IMPORTED)
    if(NOT imported)
      list(APPEND checked $<TARGET_FILE:${target}>)
    endif()
  endif()
endforeach()
add_test(NAME elabel_runtime_libraries
  COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} "-DFILES=${checked}"
    -P ${CMAKE_CURRENT_LIST_DIR}/check-runtime-libraries.cmake)
set_tests_properties(elabel_runtime_libraries PROPERTIES LABELS budget)

# The text + data budget holds for the board's optimised build.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$" AND CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
  string(REGEX REPLACE "gcc$" "" ELABEL_TOOL_PREFIX "${CMAKE_C_COMPILER}")
  find_program(ELABEL_SIZE_TOOL NAMES ${ELABEL_TOOL_PREFIX}size size REQUIRED)
  add_test(NAME elabel_size_budget
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/size-budget.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(elabel_size_budget PROPERTIES LABELS budget
    ENVIRONMENT "SIZE=${ELABEL_SIZE_TOOL}")
endif()
