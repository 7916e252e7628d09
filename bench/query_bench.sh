#!/usr/bin/env bash
# Times the account-domain query against a loopback Samba server next to
# Samba's own client doing the same (rpcclient -c "lsaquery 5"), alternating
# run by run, and prints the medians of wall time and peak memory:
#   call     a small program that makes one Kestrin call
#   kestrin  the whole tool
#   rpcclient
# Usage (as root): bench/query_bench.sh [RUNS]   (default 40)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
runs=${1:-40}
servers="$root/scripts/test-servers.sh"

cmake -S "$root" -B "$build" -G Ninja -DKESTRIN_BENCH=ON -DKESTRIN_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target kestrin kestrin_call >/dev/null

trap 'bash "$servers" stop bench >/dev/null 2>&1 || true' EXIT
bash "$servers" start bench --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null

ns=kt-bench
declare -A cmd=(
  [call]="$build/bench/kestrin_call 127.0.0.1"
  [kestrin]="$build/kestrin 127.0.0.1"
  [rpcclient]="rpcclient -U% -N 127.0.0.1 -c lsaquery\ 5"
)
order=(call kestrin rpcclient)
out=$(mktemp -d)
for name in "${order[@]}"; do : >"$out/$name.ms"; : >"$out/$name.kb"; done

# One warm-up run each: the server starts its RPC helpers on first use.
for name in "${order[@]}"; do eval "ip netns exec $ns ${cmd[$name]}" >/dev/null; done

for ((i = 0; i < runs; i++)); do
  for name in "${order[@]}"; do
    start=$(date +%s%N)
    eval "ip netns exec $ns /usr/bin/time -f %M -o $out/rss ${cmd[$name]}" >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000)) >>"$out/$name.ms"
    cat "$out/rss" >>"$out/$name.kb"
  done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
printf '%-10s %14s %14s\n' "" "wall (ms)" "peak RSS (KiB)"
for name in "${order[@]}"; do
  printf '%-10s %14.2f %14.0f\n' "$name" "$(echo "$(median "$out/$name.ms") / 1000" | bc -l)" "$(median "$out/$name.kb")"
done
r_ms=$(median "$out/rpcclient.ms"); r_kb=$(median "$out/rpcclient.kb")
for name in call kestrin; do
  printf '%-10s wall %.3f of rpcclient, peak memory %.3f of rpcclient\n' "$name" \
    "$(echo "$(median "$out/$name.ms") / $r_ms" | bc -l)" \
    "$(echo "$(median "$out/$name.kb") / $r_kb" | bc -l)"
done
rm -rf "$out"
