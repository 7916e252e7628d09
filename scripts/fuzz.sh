#!/usr/bin/env bash
# Builds the reply fuzzer with clang in build-fuzz/ and runs it for SECONDS
# over a copy of fuzz/corpus/. Exits non-zero when it finds a crash; the
# input that caused it is left in build-fuzz/ as crash-*, leak-* or timeout-*.
set -euo pipefail

seconds=${1:?usage: scripts/fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DKESTRIN_FUZZ=ON -DKESTRIN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target kestrin_reply_fuzz

rm -rf "$build/corpus"
cp -r "$root/fuzz/corpus" "$build/corpus"
"$build/fuzz/kestrin_reply_fuzz" -max_total_time="$seconds" -timeout=10 -max_len=4096 \
  -artifact_prefix="$build/" -print_final_stats=1 "$build/corpus"
