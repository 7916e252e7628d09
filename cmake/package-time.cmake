# SPDX-License-Identifier: Apache-2.0
# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE):
# the time the package's files carry, so that the same sources make the same
# package whenever and wherever they are packaged. It is SOURCE_DATE_EPOCH
# when the caller sets it; else the time of the last commit of the source
# folder, when that is a git checkout of its own; else the date of the
# latest entry of packaging/changelog (an unpacked source archive). The DEB
# generator and strip (the PE header of kestrin.exe) take it from the
# environment; cmake/normalize-package.cmake gives it to the zip's members.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source "${CPACK_KESTRIN_SOURCE_DIR}")
  set(epoch)
  # The checkout may be another user's: git only reads its time here.
  set(git git -c safe.directory=* -C "${source}")
  execute_process(COMMAND ${git} rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${source}" real_source)
  endif()
  if(NOT failed AND top STREQUAL real_source)
    execute_process(COMMAND ${git} log -1 --format=%ct
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND dpkg-parsechangelog -l "${source}/packaging/changelog" -S Timestamp
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "no time for the package's files: neither git nor dpkg-parsechangelog "
      "gave one for ${source}; set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
