# SPDX-License-Identifier: Apache-2.0
# Run by CPack after it made a package (CPACK_POST_BUILD_SCRIPTS): what CPack
# takes from the machine it runs on is taken out (normalize-package.py). The
# zip's members come in the order the file system lists the staged folder,
# which differs between machines, with their owners' ids; the .deb's ar
# members carry the modes the packager's umask gave them.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND python3 "${CMAKE_CURRENT_LIST_DIR}/normalize-package.py"
    "${package}" "$ENV{SOURCE_DATE_EPOCH}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "normalizing ${package} failed")
  endif()
endforeach()
