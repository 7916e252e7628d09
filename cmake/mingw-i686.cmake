# Cross-build for 32-bit x86 Windows with MinGW-w64: the tool's own target.
# No emulator: this machine's Wine runs 64-bit code only, so the tests are
# built but not run.
set(KESTRIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
