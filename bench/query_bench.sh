#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Times the account-domain query next to Samba's own client doing the same
# (rpcclient -c "lsaquery 5"), alternating run by run, and prints the
# medians of wall time and peak memory, and the ratios:
#
#   anonymously, against a standalone server, with no credentials around:
#     call       a small program that makes one Kestrin call
#     kestrin    the whole tool
#     baseline   the whole tool as it was before logons with credentials
#                (revision $KESTRIN_BASELINE, built here), to show what
#                looking for credentials costs a query that finds none
#     pretrace   the whole tool as it was before KESTRIN_TRACE (revision
#                $KESTRIN_PRETRACE), to show that an unset trace costs nothing
#     traced     the whole tool with KESTRIN_TRACE=/dev/null
#     rpcclient  rpcclient -U% -N
#   with credentials, against a domain member that refuses anonymous
#   callers and requires signing:
#     kerberos   the tool with a ticket cache, by name
#     rpc-k      rpcclient -k, the same ticket
#     ntlm       the tool with an NTLM_USER_FILE, by address
#     rpc-U      rpcclient -U, the same user
#   with credentials, against a member that requires encryption:
#     krb-enc    the tool with the ticket cache
#     rpc-k-enc  rpcclient -k
#
#   and, with KESTRIN_COMPARE=REVISION, the tool as it was at REVISION
#   (built here) next to today's, each way: before, before-krb, before-ntlm
#
# Usage (as root): [KESTRIN_COMPARE=REV] bench/query_bench.sh [RUNS]   (default 40)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
runs=${1:-40}
baseline=${KESTRIN_BASELINE:-a9309fb}
pretrace=${KESTRIN_PRETRACE:-9d63b03}
servers="$root/scripts/test-servers.sh"

cmake -S "$root" -B "$build" -G Ninja -DKESTRIN_BENCH=ON -DKESTRIN_TESTS=ON \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target kestrin kestrin_call kestrin_query_probe >/dev/null
build_revision() {  # revision folder
  rm -rf "$build/$2-src"
  mkdir -p "$build/$2-src"
  git -C "$root" archive "$1" | tar -x -C "$build/$2-src"
  cmake -S "$build/$2-src" -B "$build/$2" -G Ninja -DKESTRIN_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/$2" -j2 --target kestrin >/dev/null
}
build_revision "$baseline" baseline
build_revision "$pretrace" pretrace
compare=${KESTRIN_COMPARE:-}
[ -z "$compare" ] || build_revision "$compare" before

trap 'bash "$servers" stop bench >/dev/null 2>&1 || true; bash "$servers" stop benchad >/dev/null 2>&1 || true' EXIT
bash "$servers" start bench --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null
bash "$servers" dc benchad >/dev/null
bash "$servers" member benchad member1 --ip 127.0.0.2 --conf 'restrict anonymous = 2' \
  --conf 'server signing = mandatory' >/dev/null
bash "$servers" member benchad member5 --ip 127.0.0.6 --conf 'restrict anonymous = 2' \
  --conf 'server smb encrypt = required' >/dev/null
read -r bench _ < <(bash "$servers" where bench)
read -r benchad state < <(bash "$servers" where benchad)
bash "$servers" kinit benchad alice "$state/bench.ccache" >/dev/null

none="env KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE="
krb="env KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=FILE:$state/bench.ccache NTLM_USER_FILE="
ntlm="env KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE=$state/users/alice.ntlm"
declare -A cmd=(
  [call]="$bench $none $build/bench/kestrin_call 127.0.0.1"
  [kestrin]="$bench $none $build/kestrin 127.0.0.1"
  [baseline]="$bench $none $build/baseline/kestrin 127.0.0.1"
  [pretrace]="$bench $none $build/pretrace/kestrin 127.0.0.1"
  [traced]="$bench $none KESTRIN_TRACE=/dev/null $build/kestrin 127.0.0.1"
  [rpcclient]="$bench $none rpcclient -U% -N 127.0.0.1 -c lsaquery\ 5"
  [kerberos]="$benchad $krb $build/kestrin member1.sales.test"
  [rpc-k]="$benchad $krb rpcclient -s $state/client.conf -N --use-kerberos=required member1.sales.test -c lsaquery\ 5"
  [ntlm]="$benchad $ntlm $build/kestrin 127.0.0.2"
  [rpc-U]="$benchad $ntlm rpcclient -s $state/client.conf -A $state/users/alice.auth --use-kerberos=disabled 127.0.0.2 -c lsaquery\ 5"
  [krb-enc]="$benchad $krb $build/kestrin member5.sales.test"
  [rpc-k-enc]="$benchad $krb rpcclient -s $state/client.conf -N --use-kerberos=required member5.sales.test -c lsaquery\ 5"
)
order=(call kestrin baseline pretrace traced rpcclient kerberos rpc-k ntlm rpc-U krb-enc rpc-k-enc)
if [ -n "$compare" ]; then
  cmd[before]="$bench $none $build/before/kestrin 127.0.0.1"
  cmd[before-krb]="$benchad $krb $build/before/kestrin member1.sales.test"
  cmd[before-ntlm]="$benchad $ntlm $build/before/kestrin 127.0.0.2"
  order+=(before before-krb before-ntlm)
fi
out=$(mktemp -d)

# Runs `name` once in its namespace and appends its wall time (µs, taken
# inside the namespace, so that entering it is not counted) and peak memory;
# fails unless the command succeeds.
run() {
  local ns=${cmd[$1]%% *} command=${cmd[$1]#* }
  ip netns exec "$ns" bash -c "
    start=\$EPOCHREALTIME
    /usr/bin/time -f %M -o $out/rss $command >/dev/null || exit 1
    end=\$EPOCHREALTIME
    echo \$(( (\${end/./} - \${start/./}) )) >>$out/$1.ms
    cat $out/rss >>$out/$1.kb"
}

# One warm-up run each: the servers start their RPC helpers on first use.
for name in "${order[@]}"; do run "$name" || { echo "$name failed"; exit 1; }; done
for name in "${order[@]}"; do : >"$out/$name.ms"; : >"$out/$name.kb"; done

for ((i = 0; i < runs; i++)); do
  for name in "${order[@]}"; do run "$name"; done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ms() { echo "$(median "$out/$1.ms") / 1000" | bc -l; }
ratio() { echo "$(median "$out/$1.$3") / $(median "$out/$2.$3")" | bc -l; }
printf '%-10s %14s %14s\n' "" "wall (ms)" "peak RSS (KiB)"
for name in "${order[@]}"; do
  printf '%-10s %14.2f %14.0f\n' "$name" "$(ms "$name")" "$(median "$out/$name.kb")"
done
echo
for pair in "call rpcclient" "kestrin rpcclient" "kerberos rpc-k" "ntlm rpc-U" "krb-enc rpc-k-enc"; do
  set -- $pair
  printf '%-10s wall %.3f of %s, peak memory %.3f\n' "$1" "$(ratio "$1" "$2" ms)" "$2" \
    "$(ratio "$1" "$2" kb)"
done
printf 'kestrin    wall %+.2f ms against the baseline (no credentials around)\n' \
  "$(echo "$(ms kestrin) - $(ms baseline)" | bc -l)"
printf 'kestrin    wall %+.2f ms against the tool before the trace (KESTRIN_TRACE unset)\n' \
  "$(echo "$(ms kestrin) - $(ms pretrace)" | bc -l)"
printf 'traced     wall %+.2f ms against the same tool untraced\n' \
  "$(echo "$(ms traced) - $(ms kestrin)" | bc -l)"
if [ -n "$compare" ]; then
  for pair in "kestrin before" "kerberos before-krb" "ntlm before-ntlm"; do
    set -- $pair
    printf '%-10s wall %+.2f ms against %s at %s\n' "$1" "$(echo "$(ms "$1") - $(ms "$2")" | bc -l)" \
      "$2" "$compare"
  done
fi

# Round trips per mechanism, as the probe counts them.
probe="$build/tests/integration/kestrin_query_probe"
echo
for how in "$bench $none 127.0.0.1" "$benchad $krb member1.sales.test" \
  "$benchad $ntlm 127.0.0.2" "$benchad $krb member5.sales.test"; do
  set -- $how
  ns=$1; shift
  target=${*: -1}
  ip netns exec "$ns" "${@:1:$#-1}" "$probe" "$target" |
    sed -E 's/.*(mech=[a-z]+).*(trips=[0-9]+) (encrypted=[01]).*/\1 \2 \3/'
done
rm -rf "$out"
