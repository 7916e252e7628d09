# Shared part of the MinGW-w64 toolchain files: the caller sets
# KESTRIN_MINGW_PREFIX (the target triplet) and CMAKE_SYSTEM_PROCESSOR.
#
# The posix thread model: GoogleTest's Windows build needs std::mutex, which
# GCC 12's win32 model lacks. The tool itself starts no thread, and every
# executable links the runtime statically, so nothing but system DLLs is
# needed at run time.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTRIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
