#!/usr/bin/env bash
# Runs every check of the project: unit and driver tests (plain and under
# AddressSanitizer/UndefinedBehaviorSanitizer), the integration and
# end-to-end tests against real Samba servers in network namespaces (needs
# root), a bounded fuzzing run, and the Windows build with its tests under
# Wine. Marks the start and end of each stage with "===" and ends with a
# count of the stages that passed and failed.
#
# The run's test servers carry a namespace prefix and a state directory of
# its own (KESTRIN_NS_PREFIX, KESTRIN_SERVER_STATE; made from this shell's
# process id unless given), so that runs in two clones on one machine never
# meet; at the end the run stops its own servers, and only those.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0

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
  local name=$1; shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1)); echo "=== $name: ok"
  else
    failed=$((failed + 1)); echo "=== $name: FAILED"
  fi
}

build_and_test() {  # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs" &&
    ctest --preset "$1" --output-on-failure
}

windows() {  # the checks of both builds, then the 64-bit tool under Wine
  bash scripts/check-windows.sh &&
    bash tests/e2e/e2e_test.sh --wine build-win64/kestrin.exe
}

stage "native build and tests" build_and_test default
stage "sanitizer build and tests" build_and_test asan
stage "fuzzing" bash scripts/fuzz.sh "${KESTRIN_FUZZ_SECONDS:-60}"
stage "windows build and tests" windows

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
