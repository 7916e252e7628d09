# SPDX-License-Identifier: Apache-2.0
# Run by CPack between staging the install and making the package
# (CPACK_PRE_BUILD_SCRIPTS). Debian keeps manual pages and the changelog
# gzipped; -n leaves the name and time out, so the same page always gives
# the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+$")
# The Debian changelog too, as /usr/share/doc/PACKAGE/changelog.gz.
file(GLOB_RECURSE changelogs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/*/changelog")
list(APPEND pages ${changelogs})
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()
