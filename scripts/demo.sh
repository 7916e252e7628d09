#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds kestrin and runs it against a throwaway Samba server (NetBIOS name
# SALES, SID S-1-5-21-100-200-300) in a network namespace of its own, then
# stops the server. Run as root; it installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "demo: run as root (it needs network namespaces)" >&2
  exit 1
fi
missing=()
for tool in cmake ninja g++ smbd rpcclient ip python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ! -f /usr/include/gtest/gtest.h ]; then missing+=(gtest); fi
if [ ! -f /usr/include/gcrypt.h ]; then missing+=(libgcrypt); fi
if [ ! -f /usr/include/gssapi/gssapi_krb5.h ]; then missing+=(gssapi); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "demo: installing what is missing (${missing[*]})"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends \
    build-essential cmake ninja-build libgtest-dev libgcrypt20-dev libkrb5-dev samba smbclient \
    iproute2 python3 >/dev/null
fi

cmake --preset default >/dev/null
cmake --build --preset default --target kestrin >/dev/null

trap 'bash scripts/test-servers.sh stop demo >/dev/null 2>&1 || true' EXIT
bash scripts/test-servers.sh start demo --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null
echo "\$ kestrin \\\\SALES"
ip netns exec "$(bash scripts/test-servers.sh where demo | cut -d' ' -f1)" build/kestrin '\\SALES'
