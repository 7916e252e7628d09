#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes this machine ready for the demo or the tests, the one install step
# of both: scripts/demo.sh and scripts/test.sh run it first.
# Usage: setup.sh demo|test
#   demo: the packages of scripts/packages.txt marked "demo";
#   test: all of them, the i386 architecture (the 32-bit Wine) and Debian
#         12's backports (scripts/bookworm-backports.sources), from which
#         only the package named name/suite in the list is taken.
# Where everything is there already it only checks (one dpkg-query, no apt)
# and prints nothing. Otherwise, as root on Debian 12, it runs apt-get
# update and installs what the list holds; anywhere else it prints one line
# saying what is missing and how to get it, and exits 1. Running as root on
# Debian 12 is asked for in either case: the demo and the tests start
# servers in network namespaces, and the list is Debian 12's.
# KESTRIN_OS_RELEASE names the os-release file to read (default
# /etc/os-release), so that a test can stand in for another system.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
case $mode in
  demo | test) ;;
  *) echo "usage: setup.sh demo|test" >&2; exit 2 ;;
esac
os_release=${KESTRIN_OS_RELEASE:-/etc/os-release}
sources=/etc/apt/sources.list.d/kestrin-bookworm-backports.sources
say() { echo "$mode: $*" >&2; }

# The list's entries, as apt takes them (a name, name:arch or name/suite).
if [ "$mode" = demo ]; then
  mapfile -t wanted < <(awk '!/^#/ && $2 == "demo" { print $1 }' scripts/packages.txt)
else
  mapfile -t wanted < <(awk '!/^#/ && NF { print $1 }' scripts/packages.txt)
fi

# What is not there yet, one entry a line: packages of the list not
# installed (or, for name/suite, not a version from that suite: backports'
# versions carry ~bpo), then "i386 architecture" and the sources file.
missing() {
  { dpkg-query -W -f='${Package} ${Architecture} ${db:Status-Abbrev} ${Version}\n' \
      "${wanted[@]%/*}" 2>/dev/null || true; } |
    awk -v list="${wanted[*]}" '
      $3 == "ii" { ok[$1] = ok[$1] " " $4; ok[$1 ":" $2] = ok[$1 ":" $2] " " $4 }
      END {
        n = split(list, entry, " ")
        for (i = 1; i <= n; i++) {
          name = entry[i]; suite = ""
          if (name ~ /\//) { suite = name; sub(/\/.*/, "", name); sub(/.*\//, "", suite) }
          if (!(name in ok) || (suite ~ /-backports$/ && ok[name] !~ /~bpo/)) print entry[i]
        }
      }'
  if [ "$mode" = test ]; then
    dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386 || echo "i386 architecture"
    cmp -s scripts/bookworm-backports.sources "$sources" || echo "backports source"
  fi
}

# Debian 12, as root: anything else gets one line and no run at all.
# shellcheck source=/dev/null
system=$( (. "$os_release" 2>/dev/null && echo "${ID:-?} ${VERSION_ID:-?}") || echo "no $os_release")
if [ "$system" != "debian 12" ]; then
  say "needs Debian 12 (this system: $system); run it on a Debian 12 machine, container or VM, as root"
  exit 1
fi
absent=$(missing | paste -sd' ')
if [ "$(id -u)" -ne 0 ]; then
  say "needs root (servers in network namespaces${absent:+; apt for what is missing: $absent}); run it as root: sudo bash scripts/$mode.sh"
  exit 1
fi
[ -n "$absent" ] || exit 0

# Two runs on one machine take turns here (the lock); apt waits for any
# other apt that holds the package lock.
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=900 -q)
mkdir -p "$(readlink -f /var/lock)"  # /run/lock, where no boot made it
exec 9>/var/lock/kestrin-packages.lock
flock 9
absent=$(missing | paste -sd' ')  # the other run may have installed it
[ -n "$absent" ] || exit 0
say "installing what is missing: $absent"
if [ "$mode" = test ]; then
  dpkg --add-architecture i386
  cp scripts/bookworm-backports.sources "$sources"
fi
"${apt[@]}" update
# libnss-winbind's install adds winbind to the host's passwd and group
# lookups; the test members get an nsswitch.conf of their own instead.
saved=$(mktemp)
cp /etc/nsswitch.conf "$saved"
status=0
"${apt[@]}" install -y --no-install-recommends "${wanted[@]}" || status=$?
cp "$saved" /etc/nsswitch.conf
rm -f "$saved"
[ "$status" -eq 0 ] || exit "$status"
absent=$(missing | paste -sd' ')
if [ -n "$absent" ]; then
  say "still missing after apt-get install: $absent"
  exit 1
fi
