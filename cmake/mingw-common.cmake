# SPDX-License-Identifier: Apache-2.0
# Shared part of the MinGW-w64 toolchain files: the caller sets
# KESTRIN_MINGW_PREFIX (the target triplet) and CMAKE_SYSTEM_PROCESSOR.
#
# The win32 thread model: the posix one links its pthread emulation into every
# C++ executable (the C++ library's exception pool and unwinder lock through
# it), and that emulation imports calls which Windows 5.0 lacks. Our programs
# start no thread. GoogleTest gets what it misses from
# cmake/gtest-mingw/gtest/internal/custom/gtest-port.h.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTRIN_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
