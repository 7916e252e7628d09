#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the fuzzers with clang in build-fuzz/ and runs each for half of
# SECONDS, single process, over a copy of its corpus: kestrin_reply_fuzz over
# fuzz/corpus/, kestrin_exchange_fuzz over fuzz/exchange_corpus/. Exits
# non-zero when either finds a crash, leak or timeout; the input that caused
# it is left in build-fuzz/ as <target>-crash-*, -leak-* or -timeout-*.
set -euo pipefail

seconds=${1:?usage: scripts/fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DKESTRIN_FUZZ=ON -DKESTRIN_TESTS=OFF -DKESTRIN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target kestrin_reply_fuzz kestrin_exchange_fuzz

run() {  # target corpus-dir seconds max-len
  rm -rf "$build/$1-corpus"
  cp -r "$root/fuzz/$2" "$build/$1-corpus"
  "$build/fuzz/kestrin_$1_fuzz" -max_total_time="$3" -timeout=10 -max_len="$4" \
    -artifact_prefix="$build/$1-" -print_final_stats=1 "$build/$1-corpus"
}

half=$(( (seconds + 1) / 2 ))
status=0
run reply corpus "$half" 4096 || status=1
run exchange exchange_corpus "$(( seconds - half > 0 ? seconds - half : 1 ))" 8192 || status=1
exit "$status"
