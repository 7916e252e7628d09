# SPDX-License-Identifier: Apache-2.0
# shellcheck shell=bash disable=SC2034,SC2154
# Sourced by tests/install/install_test.sh and tests/package/package_test.sh:
# a count of checks, and the program at a given path asked for \\SALES in a
# test server's namespace. The sourcing script sets servers (the path of
# scripts/test-servers.sh) and server (the test server's name); its EXIT
# trap stops that server when started is set.
passed=0
failed=0

verdict() {  # name condition-status [details shown on failure]
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1)); echo "ok: $1"
  else
    failed=$((failed + 1)); printf 'FAILED: %s\n%s\n' "$1" "${3:-}"
  fi
}

# Starts the test server $server (SALES, S-1-5-21-100-200-300) and runs `program \\SALES`
# inside it: the five lines and exit status 0.
ask_test_server() {  # program
  local expected out rc ns
  started=1
  bash "$servers" start "$server" --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null
  verdict "test server $server started" $?
  expected=$'Kestrin Test...\n=========================================\nKestrin resulted in return code 0.'
  expected+=$'\nReturned domain name: SALES\nReturned domain ID: S-1-5-21-100-200-300'
  ns=$(bash "$servers" where "$server" | cut -d' ' -f1)
  out=$(ip netns exec "$ns" "$1" '\\SALES'); rc=$?
  [ "$rc" -eq 0 ] && [ "$out" = "$expected" ]
  verdict "$1 asks \\\\SALES" $? "exit $rc:"$'\n'"$out"
}
