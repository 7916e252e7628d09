#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The installed program: installs a native build into a DESTDIR with the
# prefix /usr, checks what went where, runs the installed kestrin against a
# test server in a network namespace, and checks the manual page: both
# linters quiet, and a STATUS NUMBERS entry for every number of the README's
# status tables.
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
trap 'rm -rf "$stage"; [ -n "${started:-}" ] && bash "$servers" stop "$server" >/dev/null 2>&1' EXIT

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

# Numbers, one a line: the tags of STATUS NUMBERS; the last column of the
# README's status table; the first column of its troubleshooting table.
page_numbers() {
  awk '/^\.SH / { on = ($0 == ".SH STATUS NUMBERS"); next }
       on && previous == ".TP" && /^\.B / { sub(/^\.B /, ""); print }
       { previous = $0 }' "$1" | sed 's/\\-/-/g'
}
readme_numbers() {  # section column(1 = first, 0 = last)
  sed -n "/^## $1\$/,/^## /p" "$root/README.md" | grep '^|' |
    awk -F'|' -v column="$2" '{ print column ? $2 : $(NF - 1) }'
}
numbers() { grep -oE '^ *-?[0-9]+(, *-?[0-9]+)*' | tr ',' '\n' | tr -d ' ' | sort -u; }
in_page=$(page_numbers "$page" | numbers)
for table in "Status numbers:0" "Troubleshooting:1"; do
  difference=$(diff <(readme_numbers "${table%:*}" "${table#*:}" | numbers) <(echo "$in_page"))
  [ -z "$difference" ]
  verdict "the manual page has the numbers of the README's ${table%:*} table" $? \
    "< README only, > manual page only:"$'\n'"$difference"
done

# --- the installed program against a test server
if [ "$(id -u)" -ne 0 ] || ! command -v smbd >/dev/null; then
  echo "skipped: the installed program against a server (needs root and smbd)"
else
  ask_test_server "$stage/usr/bin/kestrin"
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
