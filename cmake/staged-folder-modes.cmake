# SPDX-License-Identifier: Apache-2.0
# Run by CPack between staging the install and making the package
# (CPACK_PRE_BUILD_SCRIPTS): every staged folder rwxr-xr-x. The install makes
# the folders by the umask of whoever packages (the files' modes are
# install()'s own), and the package would carry it.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(folders "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    list(APPEND folders "${entry}")
  endif()
endforeach()
file(CHMOD ${folders} PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
