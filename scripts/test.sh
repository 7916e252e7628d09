#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs every check of the project: the code's layout (.clang-format), the
# set-up's own paths (tests/setup/setup_test.sh), the layers' order
# (scripts/check-layers.py: no include from a folder above, no cycle), unit
# and driver tests (plain and under AddressSanitizer and
# UndefinedBehaviorSanitizer), the integration and end-to-end tests against
# real Samba servers in network namespaces, a bounded fuzzing run, and the
# 32- and 64-bit Windows builds with their tests under Wine.
# It runs as root on Debian 12, and first has scripts/setup.sh add what the
# checks need (the packages of scripts/packages.txt, the i386 architecture,
# Debian 12's backports); where all is there that only checks, in a fraction
# of a second. Anywhere else it says in one line what is missing, and no
# stage runs.
# Marks the start and end of each stage with "===" and ends with a count of
# the stages that passed, failed and were skipped. A stage that exits 77
# could not run here (the 32-bit tests where the machine runs 32-bit code
# neither natively nor under qemu-user): skipped, never passed. The 32-bit
# stage's name says which way its Wine runs: natively, or emulated
# (scripts/wine-i686.sh); where it runs natively, a second stage runs the
# same tests as where the kernel runs no 32-bit code: emulated.
#
# The run's test servers carry a namespace prefix and a state directory of
# its own (KESTRIN_NS_PREFIX, KESTRIN_SERVER_STATE; made from this shell's
# process id unless given), so that runs in two clones on one machine never
# meet; at the end the run stops its own servers, and only those.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test || exit
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
skipped=0

if [ -z "${KESTRIN_NS_PREFIX:-}" ]; then
  export KESTRIN_NS_PREFIX=kt$$-
  export KESTRIN_SERVER_STATE=/tmp/kestrin-servers/kt$$
  own_servers() {
    [ "$(id -u)" != 0 ] || bash scripts/test-servers.sh stopall >/dev/null 2>&1
    rm -rf "$KESTRIN_SERVER_STATE"
  }
  trap own_servers EXIT
fi

stage() {
  local name=$1 start=$SECONDS status; shift
  echo "=== $name"
  "$@"; status=$?
  local took="$((SECONDS - start)) s"
  case $status in
    0) passed=$((passed + 1)); echo "=== $name: ok ($took)" ;;
    77) skipped=$((skipped + 1)); echo "=== $name: SKIPPED, could not run here ($took)" ;;
    *) failed=$((failed + 1)); echo "=== $name: FAILED ($took)" ;;
  esac
}

build_and_test() {  # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs" &&
    ctest --preset "$1" --output-on-failure
}

stage "formatting" bash scripts/check-format.sh
stage "set-up" bash tests/setup/setup_test.sh
stage "layers" python3 scripts/check-layers.py
stage "native build and tests" build_and_test default
# The native build as a Debian package: built, installed with apt, run, removed.
stage "Debian package" bash tests/package/package_test.sh build
stage "sanitizer build and tests" build_and_test asan
stage "fuzzing" bash scripts/fuzz.sh "${KESTRIN_FUZZ_SECONDS:-60}"
i686_way=$(bash scripts/wine-i686.sh --way 2>/dev/null || echo "cannot run here")
[ "$i686_way" != emulated ] || i686_way="emulated by qemu-user"
stage "windows i686 build, tests and end-to-end under Wine, $i686_way" bash scripts/check-windows.sh --e2e x86
# Where that ran natively, the same again as on a machine whose kernel runs
# no 32-bit code (scripts/no-ia32.cpp), where the emulated way is chosen: so
# that a change which breaks only that way is seen anywhere.
no_ia32() {
  local dir status
  dir=$(mktemp -d)
  g++ -std=c++17 -O2 -Wall -Werror -o "$dir/no-ia32" scripts/no-ia32.cpp || { rm -rf "$dir"; return 1; }
  "$dir/no-ia32" "$@"
  status=$?
  rm -rf "$dir"
  return "$status"
}
[ "$i686_way" != native ] ||
  stage "windows i686 tests and end-to-end under Wine, as where the kernel runs no 32-bit code: emulated by qemu-user" \
    no_ia32 bash scripts/check-windows.sh --e2e x86
stage "windows x86_64 build, tests and end-to-end under Wine" bash scripts/check-windows.sh --e2e x64

echo "stages: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
