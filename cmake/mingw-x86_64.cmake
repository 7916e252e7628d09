# SPDX-License-Identifier: Apache-2.0
# Cross-build for 64-bit Windows with MinGW-w64; the tests run under Wine.
set(KESTRIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests run in a Wine prefix of the build's own, made on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;WINEPREFIX=${CMAKE_BINARY_DIR}/wine;/usr/lib/wine/wine64)
