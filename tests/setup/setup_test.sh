#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# scripts/setup.sh, the demo's and the tests' one install step, on its three
# paths, with no apt run for real: everything there (quiet, no apt, well
# under a second), not root and not Debian 12 (one line, exit 1, no apt),
# and something missing as root, where a stand-in apt-get is run with the
# list and /etc/nsswitch.conf is as it was after the install.
# Usage: setup_test.sh (as root, on Debian 12 with scripts/packages.txt
# installed: what scripts/test.sh runs it on).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tests/product_checks.sh"

work=$(mktemp -d)
chmod 755 "$work"  # read by the unprivileged user below
saved_nsswitch=$work/nsswitch.conf
cp /etc/nsswitch.conf "$saved_nsswitch"
trap 'cp "$saved_nsswitch" /etc/nsswitch.conf; rm -rf "$work"' EXIT

# A copy of the set-up, with its list, and an apt-get that only says what it
# was asked and changes nsswitch.conf as libnss-winbind's install does.
tree() {  # folder [extra list line]
  mkdir -p "$1/scripts"
  cp "$root/scripts/setup.sh" "$root/scripts/bookworm-backports.sources" "$1/scripts/"
  { cat "$root/scripts/packages.txt"; [ -z "${2:-}" ] || echo "$2"; } >"$1/scripts/packages.txt"
  chmod -R a+rX "$1"
}
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<APT
#!/bin/sh
echo "\$*" >>"$work/apt.log"
case "\$*" in *install*) echo "passwd: files winbind" >>/etc/nsswitch.conf ;; esac
APT
chmod 755 "$work/bin/apt-get"
run() {  # folder mode [env...]: output in $out, status in $rc
  local folder=$1 mode=$2
  shift 2
  rm -f "$work/apt.log"
  out=$(env PATH="$work/bin:$PATH" "$@" bash "$folder/scripts/setup.sh" "$mode" 2>&1)
  rc=$?
}

tree "$work/all"
for mode in demo test; do
  start=$(date +%s%N)
  run "$work/all" "$mode"
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  [ "$rc" -eq 0 ] && [ -z "$out" ] && [ ! -e "$work/apt.log" ] && [ "$ms" -lt 1000 ]
  verdict "$mode, everything there: quiet, no apt, $ms ms" $? "exit $rc: $out"
done

tree "$work/missing" "kestrin-no-such-package demo"
run "$work/missing" test setpriv --reuid=65534 --regid=65534 --clear-groups
[ "$rc" -eq 1 ] && [ "$(wc -l <<<"$out")" -eq 1 ] && [[ $out == *root*kestrin-no-such-package* ]] &&
  [ ! -e "$work/apt.log" ]
verdict "not root: one line naming root and what is missing, exit 1, no apt" $? "exit $rc: $out"

printf 'ID=debian\nVERSION_ID="13"\n' >"$work/os-release"
run "$work/all" test KESTRIN_OS_RELEASE="$work/os-release"
[ "$rc" -eq 1 ] && [ "$(wc -l <<<"$out")" -eq 1 ] && [[ $out == *"Debian 12"*"debian 13"* ]] &&
  [ ! -e "$work/apt.log" ]
verdict "not Debian 12: one line naming it and this system, exit 1, no apt" $? "exit $rc: $out"

run "$work/missing" demo
apt_log=$(cat "$work/apt.log" 2>/dev/null)
[ "$(sed -n 1p <<<"$apt_log")" = "-o DPkg::Lock::Timeout=900 -q update" ] &&
  [[ $(sed -n 2p <<<"$apt_log") == *"install -y --no-install-recommends "*" kestrin-no-such-package" ]] &&
  [[ $(sed -n 2p <<<"$apt_log") != *samba-ad-dc* ]]
verdict "demo, something missing: apt-get update, then install of the demo's list" $? "$apt_log"
cmp -s /etc/nsswitch.conf "$saved_nsswitch"
verdict "/etc/nsswitch.conf as it was after the install" $? "$(diff "$saved_nsswitch" /etc/nsswitch.conf)"
[ "$rc" -eq 1 ] && [[ $out == *"still missing after apt-get install: kestrin-no-such-package" ]]
verdict "what apt did not install is named, exit 1" $? "exit $rc: $out"

echo "setup: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
