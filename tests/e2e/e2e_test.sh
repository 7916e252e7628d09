#!/usr/bin/env bash
# End-to-end: the built program against real Samba servers, each in a
# network namespace of its own (scripts/test-servers.sh). Needs root.
# Usage: e2e_test.sh path/to/kestrin
#        e2e_test.sh --wine path/to/kestrin.exe   (the 64-bit Windows build)
set -uo pipefail
wine=
if [ "${1:-}" = "--wine" ]; then wine=/usr/lib/wine/wine64; shift; fi
kestrin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
servers="$here/../../scripts/test-servers.sh"

if [ "$(id -u)" -ne 0 ] || ! command -v smbd >/dev/null; then
  echo "skipped: needs root and smbd"
  exit 0
fi

passed=0
failed=0
check() {  # name expected-status expected-output actual-status actual-output
  if [ "$2" = "$4" ] && [ "$3" = "$5" ]; then
    passed=$((passed + 1)); echo "ok: $1"
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n--- expected (exit %s)\n%s\n--- got (exit %s)\n%s\n' "$1" "$2" "$3" "$4" "$5"
  fi
}
run_in() {  # namespace args...: sets out and rc
  local ns=$1; shift
  if [ -z "$wine" ]; then
    out=$(ip netns exec "$ns" "$kestrin" "$@"); rc=$?
    return
  fi
  # Wine's sockets belong to its wineserver, so each run starts one inside
  # the namespace and waits for it to end. The Windows runtime writes CR LF.
  local prefix=${kestrin%/*}/wine-e2e
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 60 /usr/lib/wine/wineserver -w
  out=$(ip netns exec "$ns" env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        timeout 300 "$wine" "$kestrin" "$@" | tr -d '\r'); rc=${PIPESTATUS[0]}
  ip netns exec "$ns" env WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -w
}

head=$'Kestrin Test...\n========================================='
usage="$head"$'\nUsage: Kestrin {\\\\RemoteComputer}'
success="$head"$'\nKestrin resulted in return code 0.\nReturned domain name: SALES\nReturned domain ID: S-1-5-21-100-200-300'

trap 'bash "$servers" stop sales >/dev/null 2>&1; bash "$servers" stop muller >/dev/null 2>&1; bash "$servers" stop nolistener >/dev/null 2>&1' EXIT
bash "$servers" start sales --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null || exit 1
bash "$servers" start muller --netbios 'Müller' >/dev/null || exit 1
bash "$servers" fake nolistener none >/dev/null || exit 1

for target in 127.0.0.1 ::1 SALES '\\SALES' '\\127.0.0.1' ''; do
  run_in kt-sales "$target"
  check "query '$target'" 0 "$success" "$rc" "$out"
done

run_in kt-sales
check "no argument" 1 "$usage" "$rc" "$out"
run_in kt-sales a b
check "two arguments" 1 "$usage" "$rc" "$out"

run_in kt-nolistener 127.0.0.1
check "no listener" 2 "$head"$'\nKestrin resulted in return code 53.' "$rc" "$out"

# Windows prints wide text in its runtime's default locale, not as UTF-8.
if [ -z "$wine" ]; then
  run_in kt-muller 127.0.0.1
  check "non-ASCII name as UTF-8" 0 "Returned domain name: MÜLLER" "$rc" "$(sed -n 4p <<<"$out")"
fi

# Valgrind cannot run a sanitizer build; that build checks memory itself.
libraries=$(ldd "$kestrin" 2>/dev/null)
if [ -z "$wine" ] && command -v valgrind >/dev/null && [[ $libraries != *libasan* ]]; then
  for target in 127.0.0.1 ::1; do
    out=$(ip netns exec kt-sales valgrind -q --suppressions="$here/../valgrind.supp" --leak-check=full --show-leak-kinds=all \
          --errors-for-leak-kinds=all --error-exitcode=99 "$kestrin" "$target" 2>&1); rc=$?
    check "valgrind clean, '$target'" 0 "$success" "$rc" "$out"
  done
  out=$(ip netns exec kt-nolistener valgrind -q --suppressions="$here/../valgrind.supp" --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all --error-exitcode=99 "$kestrin" 127.0.0.1 2>&1); rc=$?
  check "valgrind clean, failed query" 2 "$head"$'\nKestrin resulted in return code 53.' "$rc" "$out"
fi

echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
