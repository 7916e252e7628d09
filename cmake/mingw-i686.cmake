# SPDX-License-Identifier: Apache-2.0
# Cross-build for 32-bit x86 Windows with MinGW-w64: the tool's own target.
# The tests run under the 32-bit Wine (wine32:i386) through
# scripts/wine-i686.sh: natively where the kernel runs 32-bit x86 code, under
# qemu-user where it does not, or as KESTRIN_I686_EMULATION says; in a Wine
# prefix of the build's own, made on first use (scripts/check-windows.sh
# makes it up front).
set(KESTRIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;WINEPREFIX=${CMAKE_BINARY_DIR}/wine;${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-i686.sh)
