#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Cross-builds kestrin for Windows, checks the result and runs its tests
# under Wine.
#
#   check-windows.sh [--e2e] [x86|x64]...      (default: both builds)
#
# For each build named (x86: the 32-bit executable, the tool's own target,
# in build-win32; x64: the 64-bit one, in build-win64):
#   - the build through its CMake preset;
#   - x86: the executable's PE header (console subsystem, version 5.0), its
#     imports (system DLLs only, nothing newer than Windows 5.0), its
#     manifest (asInvoker, uiAccess false) and its version resource;
#   - the zip that cpack -G ZIP makes of the build, and that the same
#     sources built again in another folder make the same zip, byte for byte;
#   - the unit and driver tests under Wine (x86: the 32-bit loader, through
#     scripts/wine-i686.sh), in the build's own Wine prefix, with
#     GoogleTest's counts;
#   - with --e2e, the end-to-end tests against real Samba servers
#     (tests/e2e/e2e_test.sh --wine; needs root).
# Every run is judged by what it printed, never by its exit status alone: a
# Wine that cannot start a program may print nothing and exit 0.
#
# The 32-bit Wine runs natively where the kernel runs 32-bit x86 programs,
# and under user-mode emulation (qemu-i386) where it does not (IA32 emulation
# off); KESTRIN_I686_EMULATION=qemu forces the emulated way, =native the
# native one (scripts/wine-i686.sh). The output says which way it ran; the
# tests are the same both ways.
#
# Exit status: 0 when every check passed, 1 when one failed, 77 when none
# failed but the 32-bit tests could not run here (neither natively nor
# emulated, or no 32-bit Wine): that is said loudly, and is no pass.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINE_I686=$ROOT/scripts/wine-i686.sh
VERSION=$(sed -n 's/^project(kestrin VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
# Wine hands names to the system's Kerberos in the locale's character set:
# a UTF-8 one, whatever the caller's (a fresh root sets none at all).
export LC_ALL=C.UTF-8
# A console program needs neither the .NET nor the HTML runtime: don't let a
# new prefix try to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
skips=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

skip() {
  echo "*************************************************************"
  echo "SKIPPED: $*"
  echo "*************************************************************"
  skips=$((skips + 1))
}

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
  check_zip_elsewhere "$1" "$out"/kestrin-"$VERSION"-win*.zip
  rm -rf "$out"
}

# The same sources, copied to another folder and built there again, later
# (tests/package/build_elsewhere.sh), must make the same zip, byte for byte;
# the members that differ are named.
check_zip_elsewhere() {  # build-folder zip
  local work other status
  work=$(mktemp -d)
  other=$(bash "$ROOT/tests/package/build_elsewhere.sh" "$ROOT" "$ROOT/$1" ZIP "$work" 2>"$work/err")
  status=$?
  if [ "$status" -eq 77 ]; then
    echo "      $1: no second build to compare the zip with (the sources are no git checkout)"
  elif [ "$status" -ne 0 ]; then
    fail "$1: a second build in another folder: $(cat "$work/err")"
  elif cmp -s "$2" "$other"; then
    pass "$1: a second build in another folder makes the same zip, byte for byte"
  else
    fail "$1: a second build in another folder makes another zip:
$(python3 "$ROOT/tests/package/compare_packages.py" "$2" "$other" | sed 's/^/        /')"
  fi
  rm -rf "$work"
}

# The way the 32-bit Wine runs here, "native" or "emulated", exported for
# everything that starts it (CTest's emulator, the end-to-end tests); or,
# on standard error, why it cannot run. Without it, wine64 does not run a
# 32-bit program, and may print nothing and exit 0 all the same.
i686_way() {
  local way
  way=$("$WINE_I686" --way) || return 1
  case ${KESTRIN_I686_EMULATION:-auto} in
    auto) export KESTRIN_I686_EMULATION=$([ "$way" = native ] && echo native || echo qemu) ;;
  esac
  echo "$way"
}

# Wine creates a prefix on first start; do it up front with a generous limit.
init_prefix() {  # prefix loader
  [ -f "$1/system.reg" ] && return 0
  WINEPREFIX=$1 timeout 600 "$2" wineboot --init >/dev/null 2>&1 &&
    WINEPREFIX=$1 timeout 120 "$WINESERVER" -w
}

# The program with no argument must print its usage: proof that it ran.
check_starts() {  # name loader prefix exe
  local out expected=$'Kestrin Test...\n=========================================\nUsage: Kestrin {\\\\RemoteComputer}'
  out=$(WINEPREFIX=$3 timeout 120 "$2" "$4" | tr -d '\r')
  [ "$out" = "$expected" ] && pass "$1: kestrin.exe runs under ${2##*/}" ||
    { fail "$1: kestrin.exe under ${2##*/} printed '$out', not its usage"; return 1; }
}

# GoogleTest's counts for the CTest test numbered $2 in the log $1.
gtest_counts() {
  local ran passed skipped
  ran=$(sed -n "s/^$2: \[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p" "$1")
  passed=$(sed -n "s/^$2: \[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p" "$1")
  skipped=$(sed -n "s/^$2: \[  SKIPPED \] \([0-9]*\) tests\?,.*/\1/p" "$1")
  echo "${ran:-0} run, ${passed:-0} passed, ${skipped:-0} skipped"
}

# The unit and driver tests through CTest, which passes each only on
# GoogleTest's summary; their counts are printed, and the end of the output
# of any that failed. A 4th argument replaces the preset's time limit for
# each program (emulated, the unit tests take some 3 minutes of its 5 on 2
# cores).
run_tests() {  # name preset build-dir [seconds]
  local log=$3/wine-tests.log number test
  (cd "$ROOT" && ctest --preset "$2" ${4:+--timeout "$4"} -V) >"$log" 2>&1
  local status=$?
  for test in unit driver; do
    number=$(sed -n "s/^.*Test *#\([0-9]*\): $test .*/\1/p" "$log" | head -1)
    [ -n "$number" ] || { echo "      $1 $test: did not run"; continue; }
    echo "      $1 $test: $(gtest_counts "$log" "$number")"
    grep -Eq "Test +#$number: $test \.* +Passed" "$log" && continue
    grep "^$number: " "$log" | tr -d '\r' | grep -v "^$number: *$" | tail -15 | sed 's/^/        /'
    # A program that died says so only by stopping short of the summary.
    grep -Eq "^$number: \[==========\] [0-9]+ tests? from .* ran\." "$log" ||
      echo "        $1 $test ended without GoogleTest's summary, in:" \
        "$(grep -o "^$number: \[ RUN      \] .*" "$log" | tail -1 | sed 's/.*\] //' | tr -d '\r')"
  done
  grep -E 'tests passed|tests failed' "$log" | sed 's/^/      /'
  if [ "$status" -eq 0 ] && grep -q '100% tests passed, 0 tests failed out of 2' "$log"; then
    pass "$1 unit and driver tests under Wine"
  else
    fail "$1 unit and driver tests under Wine (whole output: $log)"
  fi
}

# The end-to-end tests; they pass only on their own closing line.
run_e2e() {  # name exe
  local out counts
  out=$(bash "$ROOT/tests/e2e/e2e_test.sh" --wine "$2" 2>&1)
  local status=$?
  echo "$out"
  counts=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' <<<"$out")
  if [ -z "$counts" ]; then
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] && skip "$1 end-to-end tests did not run" ||
      fail "$1 end-to-end tests"
  elif [ "$status" -eq 0 ] && [[ $counts == *" 0 failed"* ]] && [[ $counts != "e2e: 0 passed"* ]]; then
    pass "$1 end-to-end tests under Wine ($counts)"
  else
    fail "$1 end-to-end tests under Wine ($counts)"
  fi
}

# One build: its checks, its tests and, with --e2e, its end-to-end tests.
check_build() {  # x86|x64 e2e(yes|no)
  local name preset dir loader limit=
  case $1 in
    x86) name=i686 preset=windows-x86 dir=$ROOT/build-win32 loader=$WINE_I686 ;;
    x64) name=x86_64 preset=windows-x64 dir=$ROOT/build-win64 loader=/usr/lib/wine/wine64 ;;
    *) fail "unknown build '$1' (x86 or x64)"; return ;;
  esac
  build "$preset" || return
  check_zip "${dir##*/}"
  if [ "$1" = x86 ]; then
    check_pe_i686
    check_manifest_i686
    check_version_i686
    local way why
    if ! way=$(i686_way 2>"$dir/wine-way.err"); then
      why=$(cat "$dir/wine-way.err")
      # Asked for a way by name: not being able to is a failure.
      [ -n "${KESTRIN_I686_EMULATION:-}" ] && [ "$KESTRIN_I686_EMULATION" != auto ] &&
        { fail "i686: the 32-bit Wine cannot run: $why"; return; }
      skip "the i686 tests cannot run on this machine: $why"
      return
    fi
    if [ "$way" = native ]; then
      echo "      i686: the 32-bit Wine runs natively (the kernel runs 32-bit x86 code)"
    else
      echo "      i686: the 32-bit Wine runs EMULATED, under $(qemu-i386 --version | head -1) (user-mode emulation)"
      limit=900
    fi
  fi
  init_prefix "$dir/wine" "$loader" || { fail "$name: Wine prefix $dir/wine"; return; }
  check_starts "$name" "$loader" "$dir/wine" "$dir/kestrin.exe" || return
  run_tests "$name" "$preset" "$dir" "$limit"
  if [ "$2" = yes ]; then run_e2e "$name" "$dir/kestrin.exe"; fi
}

main() {
  local e2e=no builds=()
  for arg in "$@"; do
    case $arg in
      --e2e) e2e=yes ;;
      *) builds+=("$arg") ;;
    esac
  done
  [ ${#builds[@]} -gt 0 ] || builds=(x86 x64)
  for b in "${builds[@]}"; do check_build "$b" "$e2e"; done
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  if [ "$skips" -ne 0 ]; then
    echo "no check failed, but $skips part(s) could not run: NOT a pass"
    exit 77
  fi
  echo "all Windows checks passed"
}

main "$@"
