#!/bin/bash
# Cross-builds kestrin for Windows and checks the result:
#   - both MinGW-w64 builds (x86_64 and i686) through the CMake presets;
#   - the i686 executable's PE header (console subsystem, version 5.0), its
#     imports (system DLLs only, nothing newer than Windows 5.0), its
#     manifest (asInvoker, uiAccess false) and its version resource;
#   - the zips of both builds (cpack -G ZIP);
#   - the x86_64 unit and driver tests under Wine.
# Exits non-zero if any check fails. The end-to-end tests of the 64-bit tool
# under Wine are tests/e2e/e2e_test.sh --wine build-win64/kestrin.exe.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
TEST_PREFIX=$ROOT/build-win64/wine
VERSION=$(sed -n 's/^project(kestrin VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
export WINEDEBUG=-all
# A console program needs neither the .NET nor the HTML runtime: don't let a
# new prefix try to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" ||
    { fail "build of $preset"; return 1; }
  pass "build of $preset"
}

# Imports that Windows 5.0 does not have: with any of them the loader refuses
# to start the program there. Not complete; the calls a socket layer, a clock
# or a random source is likely to reach for.
LATER_THAN_5_0='^(getaddrinfo|freeaddrinfo|getnameinfo|GetAddrInfoW|FreeAddrInfoW|GetNameInfoW|GetAddrInfoExW|inet_pton|inet_ntop|InetPtonW|InetNtopW|WSAPoll|WSAConnectByNameW|GetTickCount64|QueryUnbiasedInterruptTime|GetSystemTimePreciseAsFileTime|SystemFunction036|InitializeConditionVariable|SleepConditionVariableCS|WakeAllConditionVariable|InitializeSRWLock|AcquireSRWLockExclusive|InitOnceExecuteOnce|FlsAlloc|AddVectoredExceptionHandler|GetModuleHandleExW|GetNativeSystemInfo|IsWow64Process|AttachConsole|GetConsoleProcessList|SetFileCompletionNotificationModes|CancelIoEx|GetErrorMode|GetLocaleInfoEx|CompareStringEx|LCMapStringEx)$'

# Prints "DLL function" for every import of the PE file $1.
imports() {
  i686-w64-mingw32-objdump -p "$1" |
    awk '/DLL Name:/ { dll = $3 } /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3 }'
}

check_pe_i686() {
  local exe=$ROOT/build-win32/kestrin.exe header
  [ -f "$exe" ] || { fail "$exe missing"; return; }
  header=$(i686-w64-mingw32-objdump -p "$exe") || { fail "objdump $exe"; return; }

  grep -q 'file format pei-i386' <<<"$header" && pass "i686: pei-i386" ||
    fail "i686: not a pei-i386 image"
  grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$header" && pass "i686: console subsystem" ||
    fail "i686: subsystem is not console (3)"
  grep -Eq '^MajorSubsystemVersion[[:space:]]+5$' <<<"$header" &&
    grep -Eq '^MinorSubsystemVersion[[:space:]]+0$' <<<"$header" &&
    pass "i686: subsystem version 5.0" || fail "i686: subsystem version is not 5.0"

  local dlls
  dlls=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$header" | sort -u | tr '\n' ' ')
  echo "      imports from: $dlls"
  grep -q 'NETAPI32' <<<"$dlls" && fail "i686: imports NETAPI32"
  local other
  other=$(tr ' ' '\n' <<<"$dlls" | grep -Ev '^(KERNEL32|ADVAPI32|USER32|WS2_32|MSVCRT)\.DLL$|^$')
  [ -z "$other" ] && pass "i686: system DLLs only, no NETAPI32" ||
    fail "i686: imports DLLs that Windows 5.0 lacks or that we must not use: $other"

  local later
  later=$(imports "$exe" | awk '{ print $2 }' | grep -E "$LATER_THAN_5_0" | tr '\n' ' ')
  [ -z "$later" ] && pass "i686: no import newer than Windows 5.0" ||
    fail "i686: imports need a Windows later than 5.0: $later"
}

check_manifest_i686() {
  local exe=$ROOT/build-win32/kestrin.exe manifest
  # windres turns the resources back into a script; the manifest is the
  # block of resource type 24 (RT_MANIFEST) with id 1, one quoted line each.
  manifest=$(i686-w64-mingw32-windres -J coff -O rc -i "$exe" 2>/dev/null |
    awk '/^1 24 / { on = 1; next } on && /^END/ { exit } on' | sed 's/""/"/g')
  [ -n "$manifest" ] || { fail "i686: no manifest resource (1, RT_MANIFEST)"; return; }
  grep -q 'requestedExecutionLevel level="asInvoker" uiAccess="false"' <<<"$manifest" &&
    pass "i686: manifest asks for asInvoker, uiAccess false" ||
    fail "i686: manifest lacks asInvoker / uiAccess=\"false\""
}

# The version resource: the version of project() in CMakeLists.txt, as
# numbers and as text, the product's name and a description.
check_version_i686() {
  local exe=$ROOT/build-win32/kestrin.exe resources
  resources=$(i686-w64-mingw32-windres -J coff -O rc -i "$exe" 2>/dev/null)
  local numbers="${VERSION//./, }, 0"
  grep -qx " FILEVERSION $numbers" <<<"$resources" &&
    grep -qx " PRODUCTVERSION $numbers" <<<"$resources" &&
    grep -qF "VALUE \"ProductVersion\", \"$VERSION\"" <<<"$resources" &&
    grep -qF 'VALUE "ProductName", "kestrin"' <<<"$resources" &&
    grep -q 'VALUE "FileDescription", ".' <<<"$resources" &&
    pass "i686: version resource $VERSION with product name and description" ||
    fail "i686: version resource lacks $VERSION, the product name or a description"
}

# The zip that `cpack -G ZIP` makes from build folder $1: one folder with the
# program, the README and the licenses.
check_zip() {
  local dir=$ROOT/$1 out listing file missing=
  out=$(mktemp -d)
  (cd "$dir" && cpack -G ZIP -B "$out" >/dev/null) || { fail "$1: cpack -G ZIP"; rm -rf "$out"; return; }
  listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' \
    "$out"/kestrin-"$VERSION"-win*.zip 2>&1)
  for file in kestrin.exe README.md LICENSE THIRD-PARTY.md licenses/LGPL-2.1.txt licenses/libgcrypt.txt \
              licenses/libgpg-error.txt licenses/mingw-w64.txt licenses/gcc.txt; do
    grep -qx "kestrin-$VERSION-win[0-9]*/$file" <<<"$listing" || missing+=" $file"
  done
  [ -z "$missing" ] && pass "$1: the zip holds kestrin.exe, README.md, LICENSE, THIRD-PARTY.md, licenses/" ||
    fail "$1: the zip lacks$missing"
  rm -rf "$out"
}

# Wine creates a prefix on first start; do it up front with a generous limit.
init_prefix() {
  local prefix=$1
  [ -f "$prefix/system.reg" ] && return 0
  WINEPREFIX=$prefix timeout 600 "$WINE" wineboot --init >/dev/null 2>&1 &&
    WINEPREFIX=$prefix timeout 120 "$WINESERVER" -w
}

run_tests_x64() {
  init_prefix "$TEST_PREFIX" || { fail "Wine prefix $TEST_PREFIX"; return; }
  (cd "$ROOT" && ctest --preset windows-x64 --output-on-failure) &&
    pass "x86_64 tests under Wine" || fail "x86_64 tests under Wine"
}

main() {
  build windows-x86 && { check_pe_i686; check_manifest_i686; check_version_i686; check_zip build-win32; }
  build windows-x64 && { check_zip build-win64; run_tests_x64; }
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all Windows checks passed"
}

main
