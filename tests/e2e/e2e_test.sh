#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# End-to-end: the built program against real Samba servers, each in a
# network namespace of its own (scripts/test-servers.sh). Needs root.
# Usage: e2e_test.sh [--wine] [--only standalone|domain] path/to/kestrin
#   --wine      the program is a Windows build (32- or 64-bit), run under Wine
#               in the Wine prefix of its build folder (BUILD/wine), made on
#               first use, with the loader that fits its PE header: the
#               32-bit one (wine32:i386) for 32-bit x86, through
#               scripts/wine-i686.sh (natively or under qemu-user, as
#               KESTRIN_I686_EMULATION says), wine64 for x86-64
#   --only      only the standalone servers' part, or only the domain's
#               (logons with credentials); both by default
# Where the 32-bit Wine runs under qemu-user, the cases that start a thread
# in the program (a name to look up: the look-up runs on a worker thread)
# are skipped, each counted and named with the reason: under that emulation
# the 32-bit Wine process dies at its first signal or exception after it has
# started a second thread (see scripts/wine-i686.sh).
# Exits 77 (skipped) when nothing could run: not root, or Samba missing.
# The servers' namespaces carry $KESTRIN_NS_PREFIX, one of this run's own
# unless the caller gives one, and only they are stopped at the end.
set -uo pipefail
wine=
only=
while [ $# -gt 1 ]; do
  case $1 in
    --wine) wine=yes; shift ;;
    --only) only=$2; shift 2 ;;
    *) break ;;
  esac
done
kestrin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
servers="$here/../../scripts/test-servers.sh"
skipped=77

# The machine field of a PE file's header: 014c (x86), 8664 (x86-64).
pe_machine() {
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') || return 1
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

if [ -n "$wine" ]; then
  case $(pe_machine "$kestrin") in
    014c) wine=$here/../../scripts/wine-i686.sh
          way=$("$wine" --way) || { echo "FAILED: the 32-bit Wine cannot run here"; exit 1; }
          echo "e2e: the 32-bit Wine runs $way" ;;
    8664) wine=/usr/lib/wine/wine64
          [ -x "$wine" ] || { echo "FAILED: $wine is missing (wine64)"; exit 1; } ;;
    *) echo "not a 32- or 64-bit x86 Windows program: $kestrin"; exit 1 ;;
  esac
fi

if [ "$(id -u)" -ne 0 ] || ! command -v smbd >/dev/null; then
  echo "skipped: needs root and smbd"
  exit $skipped
fi
domain_missing=
command -v samba >/dev/null && command -v kinit >/dev/null ||
  domain_missing="needs samba-ad-dc and krb5-user"
if [ "$only" = domain ] && [ -n "$domain_missing" ]; then
  echo "skipped: logons with credentials ($domain_missing)"
  exit $skipped
fi
own_prefix=
if [ -z "${KESTRIN_NS_PREFIX:-}" ]; then
  own_prefix=kt$$-
  export KESTRIN_NS_PREFIX=$own_prefix
  export KESTRIN_SERVER_STATE=/tmp/kestrin-servers/kt$$
fi
ns() { bash "$servers" where "$1" | cut -d' ' -f1; }
state_of() { bash "$servers" where "$1" | cut -d' ' -f2; }

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
run_in() {  # namespace [env NAME=VALUE...] args...: sets out and rc
  local ns=$1 environment=(); shift
  if [ "${1:-}" = env ]; then
    shift
    while [[ ${1:-} == *=* ]]; do environment+=("$1"); shift; done
  fi
  if [ -z "$wine" ]; then
    out=$(ip netns exec "$ns" env "${environment[@]}" "$kestrin" "$@"); rc=$?
    return
  fi
  # Wine's sockets belong to its wineserver, so each run starts one inside
  # the namespace and waits for it to end. The Windows runtime writes CR LF.
  local prefix=${kestrin%/*}/wine
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 60 /usr/lib/wine/wineserver -w
  out=$(ip netns exec "$ns" env "${environment[@]}" WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        timeout 300 "$wine" "$kestrin" "$@" | tr -d '\r'); rc=${PIPESTATUS[0]}
  ip netns exec "$ns" env WINEPREFIX="$prefix" timeout 60 /usr/lib/wine/wineserver -w
}

head=$'Kestrin Test...\n========================================='
usage="$head"$'\nUsage: Kestrin {\\\\RemoteComputer}'
success="$head"$'\nKestrin resulted in return code 0.\nReturned domain name: SALES\nReturned domain ID: S-1-5-21-100-200-300'
failure() { printf '%s\nKestrin resulted in return code %s.' "$head" "$1"; }

cleanup() {
  local s
  for s in sales muller nolistener evil e2ead; do bash "$servers" stop $s >/dev/null 2>&1; done
  if [ -n "$own_prefix" ]; then
    bash "$servers" stopall >/dev/null 2>&1
    rm -rf "$KESTRIN_SERVER_STATE"
  fi
}
trap cleanup EXIT

# A name in UTF-16LE, as hex.
utf16_hex() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -tx1 | tr -d ' \n'; }

# The standalone servers: answers, usage, failures, and a hostile name.
standalone() {
  bash "$servers" start sales --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null || exit 1
  bash "$servers" start muller --netbios 'Müller' >/dev/null || exit 1
  bash "$servers" fake nolistener none >/dev/null || exit 1
  local sales nolistener target
  sales=$(ns sales) nolistener=$(ns nolistener)

  for target in 127.0.0.1 ::1 SALES '\\SALES' '\\127.0.0.1' ''; do
    run_in "$sales" "$target"
    check "query '$target'" 0 "$success" "$rc" "$out"
  done

  run_in "$sales"
  check "no argument" 1 "$usage" "$rc" "$out"
  run_in "$sales" a b
  check "two arguments" 1 "$usage" "$rc" "$out"

  run_in "$nolistener" 127.0.0.1
  check "no listener" 2 "$(failure 53)" "$rc" "$out"

  # Windows prints wide text in its runtime's default locale, not as UTF-8.
  if [ -z "$wine" ]; then
    run_in "$(ns muller)" 127.0.0.1
    check "non-ASCII name as UTF-8" 0 "Returned domain name: MÜLLER" "$rc" "$(sed -n 4p <<<"$out")"
  fi
  hostile_name
  valgrind_standalone
}

# A server whose domain name holds a newline or an escape: a proxy in the
# namespace (127.0.0.9) puts one in place of a letter of EVILNAME in the
# LsarQueryInformationPolicy answer (the name behind its NDR count), which
# nothing signs on an anonymous session. The query fails as a malformed
# reply, and nothing of the name reaches the screen.
hostile_name() {
  bash "$servers" start evil --netbios EVILNAME >/dev/null || exit 1
  local evil dir control
  evil=$(ns evil) dir=$(state_of evil)
  control=$dir/tamper.control
  : >"$control"
  ip netns exec "$evil" setsid /usr/bin/python3 "$here/../integration/tamper_proxy.py" \
    127.0.0.9 127.0.0.1 "$control" "$dir/tamper.ready" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 100); do [ -e "$dir/tamper.ready" ] && break; sleep 0.05; done
  run_in "$evil" 127.0.0.9
  check "through the proxy, unchanged" 0 "$(failure 0)"$'\nReturned domain name: EVILNAME' \
    "$rc" "$(sed -n 1,4p <<<"$out")"
  local letter altered
  for letter in $'\n' $'\e'; do
    altered="E${letter}ILNAME"
    echo "replace 08000000$(utf16_hex EVILNAME) 08000000$(utf16_hex "$altered")" >"$control"
    run_in "$evil" 127.0.0.9
    [[ $out != *ILNAME* && $out != *EVIL* && $out != *$'\e'* ]] || out+=$'\n(the name was printed)'
    check "domain name with $(printf '%q' "$letter")" 2 "$(failure 58)" "$rc" "$out"
  done
}

# Valgrind cannot run a sanitizer build; that build checks memory itself.
valgrind_standalone() {
  [ -z "$wine" ] && command -v valgrind >/dev/null && [[ $libraries != *libasan* ]] || return 0
  local target
  for target in 127.0.0.1 ::1; do
    out=$(ip netns exec "$(ns sales)" valgrind -q --suppressions="$here/../valgrind.supp" --leak-check=full --show-leak-kinds=all \
          --errors-for-leak-kinds=all --error-exitcode=99 "$kestrin" "$target" 2>&1); rc=$?
    check "valgrind clean, '$target'" 0 "$success" "$rc" "$out"
  done
  out=$(ip netns exec "$(ns nolistener)" valgrind -q --suppressions="$here/../valgrind.supp" --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all --error-exitcode=99 "$kestrin" 127.0.0.1 2>&1); rc=$?
  check "valgrind clean, failed query" 2 "$(failure 53)" "$rc" "$out"
}

# With the caller's credentials, against a domain: member1 refuses anonymous
# callers and requires signing; member4 refuses anonymous callers, does not
# require signing and speaks at most 3.0.2. The credentials are the test's
# own: a ticket cache made here, alice's NTLM_USER_FILE.
domain() {
  bash "$servers" dc e2ead >/dev/null &&
    bash "$servers" member e2ead member1 --ip 127.0.0.2 --conf 'restrict anonymous = 2' \
      --conf 'server signing = mandatory' >/dev/null &&
    bash "$servers" member e2ead member4 --ip 127.0.0.5 --sid S-1-5-21-7-8-12 \
      --conf 'restrict anonymous = 2' --conf 'server max protocol = SMB3_02' >/dev/null || exit 1
  local e2ead state
  e2ead=$(ns e2ead) state=$(state_of e2ead)
  bash "$servers" kinit e2ead alice "$state/e2e.ccache" >/dev/null || exit 1
  kerberos=(env KRB5_CONFIG="$state/krb5.conf" KRB5CCNAME="FILE:$state/e2e.ccache" NTLM_USER_FILE=)
  ntlm=(env KRB5_CONFIG="$state/krb5.conf" KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE="$state/users/alice.ntlm")
  nothing=(env KRB5_CONFIG="$state/krb5.conf" KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE=)
  printf 'SALES:alice:not-her-password\n' >"$state/wrong.ntlm"; chmod 600 "$state/wrong.ntlm"
  wrong=(env KRB5_CONFIG="$state/krb5.conf" KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE="$state/wrong.ntlm")
  local member=$'\nKestrin resulted in return code 0.\nReturned domain name: MEMBER'
  local member1="$head$member"$'1\nReturned domain ID: S-1-5-21-7-8-9'
  local member4="$head$member"$'4\nReturned domain ID: S-1-5-21-7-8-12'
  if [ -z "$wine" ]; then
    run_in "$e2ead" "${kerberos[@]}" member1
    check "Kerberos, signed" 0 "$member1" "$rc" "$out"
    run_in "$e2ead" "${ntlm[@]}" 127.0.0.2
    check "NTLM, signed" 0 "$member1" "$rc" "$out"
    run_in "$e2ead" "${wrong[@]}" 127.0.0.2
    check "wrong password" 2 "$(failure 1326)" "$rc" "$out"
    run_in "$e2ead" "${nothing[@]}" member1
    check "no credentials: anonymous, refused" 2 "$(failure 5)" "$rc" "$out"
  else
    # Wine's SSPI takes the ticket from KRB5CCNAME but gives no session key:
    # the session works unsigned where nothing demands signing, and fails
    # with SEC_E_UNSUPPORTED_FUNCTION where the server requires it.
    run_in "$e2ead" "${kerberos[@]}" member4
    check "Kerberos under Wine, unsigned" 0 "$member4" "$rc" "$out"
    run_in "$e2ead" "${kerberos[@]}" member1
    check "Kerberos under Wine, signing required" 2 "$(failure -2146893054)" "$rc" "$out"
    run_in "$e2ead" "${nothing[@]}" member4
    check "no credentials under Wine: anonymous, refused" 2 "$(failure 5)" "$rc" "$out"
  fi
  # Still-reachable blocks are the crypto and GSSAPI libraries' state for
  # the process; what is lost must be nobody's but the suppressed libraries'.
  if [ -z "$wine" ] && command -v valgrind >/dev/null && [[ $libraries != *libasan* ]]; then
    local kind target
    for kind in kerberos ntlm; do
      declare -n how=$kind
      target=$([ $kind = kerberos ] && echo member1 || echo 127.0.0.2)
      out=$(ip netns exec "$e2ead" "${how[@]}" valgrind -q --suppressions="$here/../valgrind.supp" \
            --num-callers=60 --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
            "$kestrin" "$target" 2>&1); rc=$?
      check "valgrind clean, $kind" 0 "$member1" "$rc" "$out"
    done
  fi
}

libraries=$(ldd "$kestrin" 2>/dev/null)
[ "$only" = domain ] || standalone
if [ "$only" != standalone ]; then
  if [ -n "$domain_missing" ]; then
    echo "skipped: logons with credentials ($domain_missing)"
  else
    domain
  fi
fi

echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
