#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The installed program: installs a native build into a DESTDIR with the
# prefix /usr, checks what went where, runs the installed kestrin against a
# test server in a network namespace, and checks the manual page: both
# linters quiet, and its STATUS NUMBERS against the program's own status
# table (src/base/status.cpp, printed by tests/install/status_numbers.cpp):
# an entry for every number, naming the number and each server status that
# maps to it; and an entry for every number of the README's short table.
# Usage: install_test.sh BUILD-DIR
# The server part needs root and smbd, and skips itself without them.
# KESTRIN_TEST_SERVER names the test server (default "install"), so that
# runs side by side do not meet.
set -uo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
servers=$root/scripts/test-servers.sh
server=${KESTRIN_TEST_SERVER:-install}

. "$root/tests/product_checks.sh"

stage=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$stage" "$work"; [ -n "${started:-}" ] && bash "$servers" stop "$server" >/dev/null 2>&1' EXIT

# --- the install
log=$(DESTDIR=$stage cmake --install "$build" --prefix /usr 2>&1)
verdict "cmake --install with DESTDIR and --prefix /usr" $? "$log"
[ -x "$stage/usr/bin/kestrin" ]
verdict "the program in usr/bin" $?
page=$stage/usr/share/man/man1/kestrin.1
[ -f "$page" ]
verdict "the manual page in usr/share/man/man1" $?
[ -f "$stage/usr/share/doc/kestrin/copyright" ]
verdict "the copyright file in usr/share/doc/kestrin" $?
outside=$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ]
verdict "nothing outside the prefix" $? "$outside"

# --- the manual page
lint=$(groff -ww -man -z "$page" 2>&1) && [ -z "$lint" ]
verdict "groff -ww -man -z is quiet" $? "$lint"
lint=$(mandoc -T lint "$page" 2>&1) && [ -z "$lint" ]
verdict "mandoc -T lint is quiet" $? "$lint"

# STATUS NUMBERS, one entry a line: its numbers (the .B line after .TP),
# a tab, and its text joined into one line.
page_entries() {
  awk '/^\.SH / { if (on && tags != "") print tags "\t" text; on = ($0 == ".SH STATUS NUMBERS"); tags = ""; next }
       !on { next }
       /^\.TP/ { if (tags != "") print tags "\t" text; tags = ""; text = ""; want = 1; next }
       want && /^\.B / { sub(/^\.B /, ""); tags = $0; want = 0; next }
       { text = text " " $0 }' "$1" | sed 's/\\-/-/g'
}
helper=$work/status-numbers
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
log=$("${cxx:-c++}" -std=c++17 -I"$root/src" -o "$helper" "$root/tests/install/status_numbers.cpp" \
      "$root/src/base/status.cpp" 2>&1)
verdict "the program's status table printed (tests/install/status_numbers.cpp)" $? "$log"
# Every row of the program's table: an entry for its number, which names
# the number and, for a server's NT status, the status as NAME (0xVALUE).
entries=$(page_entries "$page")
problems=$("$helper" | awk -F'\t' '
  NR == FNR { n = split($1, tag, /, */); for (i = 1; i <= n; i++) text[tag[i]] = $2; next }
  !($1 in text) { print $1 " " $2 " (" $3 "): no entry"; next }
  index(text[$1], $2) == 0 { print $1 ": the entry does not name " $2 }
  $3 ~ /^STATUS_/ && index(text[$1], $3 " (" $4 ")") == 0 {
    print $1 ": the entry does not name " $3 " (" $4 ")" }' <(echo "$entries") -)
[ -n "$entries" ] && [ -z "$problems" ]
verdict "the manual page has every status of the program's table, with its server statuses" $? "$problems"
# And the other way: every number the page lists is one the program gives.
problems=$(awk -F'\t' 'NR == FNR { known[$1]; next }
                       { n = split($1, tag, /, */)
                         for (i = 1; i <= n; i++) if (tag[i] ~ /^-?[0-9]+$/ && !(tag[i] in known)) print tag[i] ": on the page, not in the program" }' \
           <("$helper") <(echo "$entries"))
[ -z "$problems" ]
verdict "every number of the manual page is one the program gives" $? "$problems"
# The README's short table (its first column) holds numbers of the page.
readme=$(sed -n '/^## Common status numbers$/,/^## /p' "$root/README.md" | grep '^| *-\?[0-9]' |
         awk -F'|' '{ print $2 }' | tr ',' '\n' | tr -d ' ')
problems=$(awk -F'\t' 'NR == FNR { n = split($1, tag, /, */); for (i = 1; i <= n; i++) known[tag[i]]; next }
                       !($1 in known) { print $1 ": in the README, not in the manual page" }' \
           <(echo "$entries") <(echo "$readme"))
[ -n "$readme" ] && [ -z "$problems" ]
verdict "the manual page has every number of the README's short table" $? "$problems"

# --- the installed program against a test server
if [ "$(id -u)" -ne 0 ] || ! command -v smbd >/dev/null; then
  echo "skipped: the installed program against a server (needs root and smbd)"
else
  ask_test_server "$stage/usr/bin/kestrin"
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
