# cmake -DVERSION=<project version> -DSOURCE=<source tree> -P check-version.cmake
# The project's version is set once, in project(VERSION); the copies that cannot be
# generated from it (manual page headers, the Debian changelog's latest entry, the
# README's install and package tables) must agree with it.
function(expect_only file regex what)
  file(READ ${SOURCE}/${file} text)
  string(REGEX MATCHALL "${regex}" found "${text}")
  if(NOT found)
    message(SEND_ERROR "${file}: no ${what}")
  endif()
  foreach(match IN LISTS found)
    string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" version "${match}")
    if(NOT version STREQUAL VERSION)
      message(SEND_ERROR "${file}: ${what} says ${version}, the project is ${VERSION}: '${match}'")
    endif()
  endforeach()
endfunction()

expect_only(man/elabel.8 "\\.TH [^\n]*\"elabel [0-9.]+\"" "manual page header")
expect_only(man/elabel-image.1 "\\.TH [^\n]*\"elabel [0-9.]+\"" "manual page header")
file(STRINGS ${SOURCE}/packaging/changelog.in latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^elabel \\(${VERSION}\\) ")
  message(SEND_ERROR "packaging/changelog.in: the latest entry is not for ${VERSION}: '${latest}'")
endif()
expect_only(README.md "(\\.so\\.|\\(= )[0-9]+\\.[0-9]+\\.[0-9]+" "library or package version")
