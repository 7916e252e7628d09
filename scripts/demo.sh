#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds kestrin and runs it against a throwaway Samba server (NetBIOS name
# SALES, SID S-1-5-21-100-200-300) in a network namespace of its own, then
# stops the server. Run as root on Debian 12; it installs what is missing
# first (scripts/setup.sh demo: the packages of scripts/packages.txt marked
# "demo").
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh demo

cmake --preset default >/dev/null
cmake --build --preset default --target kestrin >/dev/null

trap 'bash scripts/test-servers.sh stop demo >/dev/null 2>&1 || true' EXIT
bash scripts/test-servers.sh start demo --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null
echo "\$ kestrin \\\\SALES"
ip netns exec "$(bash scripts/test-servers.sh where demo | cut -d' ' -f1)" build/kestrin '\\SALES'
