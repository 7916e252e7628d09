# SPDX-License-Identifier: Apache-2.0
# Run by CPack after it made the zip (CPACK_POST_BUILD_SCRIPTS). CPack
# writes the members in the order the file system lists the staged folder,
# which differs between machines, with their owners' ids: the zip is written
# again with its members in the order of their names, each with the time
# of SOURCE_DATE_EPOCH (cmake/package-time.cmake) and nothing else of the
# machine it was made on.
if(NOT CPACK_GENERATOR STREQUAL "ZIP")
  return()
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND python3 "${CMAKE_CURRENT_LIST_DIR}/zip-in-order.py"
    "${zip}" "$ENV{SOURCE_DATE_EPOCH}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "rewriting ${zip} in order failed")
  endif()
endforeach()
