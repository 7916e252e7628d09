#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the SID text benchmark (Release, -O2) in build-bench/, runs it and
# prints how many times faster FormatSidText is than the snprintf reference.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"

cmake -S "$root" -B "$build" -G Ninja -DKESTRIN_BENCH=ON -DKESTRIN_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j2 --target sid_text_bench

csv="$build/sid_text_bench.csv"
"$build/bench/sid_text_bench" --benchmark_repetitions="${REPETITIONS:-3}" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$csv" --benchmark_out_format=csv "$@"

# Ratio of the median CPU times (column 4) per sub-authority count.
awk -F, '
  $1 ~ /_median"?$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    split(name, part, "/"); time[part[1], part[2]] = $4; counts[part[2]] = 1
  }
  END {
    print ""
    for (n = 0; n <= 15; ++n) if (n in counts)
      printf "%2d sub-authorities: FormatSidText %7.1f ns, snprintf %7.1f ns, %.2fx faster\n",
             n, time["BM_FormatSidText", n], time["BM_SnprintfReference", n],
             time["BM_SnprintfReference", n] / time["BM_FormatSidText", n]
  }' "$csv"
