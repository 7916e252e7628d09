# SPDX-License-Identifier: Apache-2.0
# Cross-build for 32-bit x86 Windows with MinGW-w64: the tool's own target.
# The tests run under the 32-bit Wine (wine32:i386, whose loader needs the
# kernel's IA32 emulation) in a Wine prefix of the build's own, made on
# first use (scripts/check-windows.sh makes it up front).
set(KESTRIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;WINEPREFIX=${CMAKE_BINARY_DIR}/wine;/usr/lib/wine/wine)
