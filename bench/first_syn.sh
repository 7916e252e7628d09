#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Times what the tool costs before its first packet: from the moment the
# process is spawned to the first SYN on the wire, taken from tcpdump's
# timestamps inside a test namespace (nothing listens there; only the first
# SYN counts). The tool as built (C++ runtime linked in) and the same tool
# with the C++ runtime as shared libraries (KESTRIN_SHARED_CXX_RUNTIME) run
# alternately against 127.0.0.1 (and the tool before logons with
# credentials, when bench/query_bench.sh has built it): medians and tenth
# percentiles, the dynamic loader's own share (LD_DEBUG=statistics, CPU
# cycles), page faults and shared libraries.
#
# Usage (as root): bench/first_syn.sh [RUNS]   (default 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
runs=${1:-100}
servers="$root/scripts/test-servers.sh"

for variant in OFF ON; do
  dir=$build$([ $variant = ON ] && echo -shared-runtime || true)
  cmake -S "$root" -B "$dir" -G Ninja -DKESTRIN_BENCH=ON -DKESTRIN_TESTS=ON \
    -DCMAKE_BUILD_TYPE=Release -DKESTRIN_SHARED_CXX_RUNTIME=$variant >/dev/null
  cmake --build "$dir" -j2 --target kestrin >/dev/null
done

trap 'bash "$servers" stop startup >/dev/null 2>&1 || true' EXIT
bash "$servers" fake startup none >/dev/null

read -r ns _ < <(bash "$servers" where startup)
variants=("linked-in=$build/kestrin" "shared=$build-shared-runtime/kestrin")
# The tool before logons with credentials, when bench/query_bench.sh has built it.
[ -x "$build/baseline/kestrin" ] && variants+=("before-logons=$build/baseline/kestrin")
ip netns exec "$ns" python3 - "$runs" "${variants[@]}" <<'EOF'
import os, statistics, subprocess, sys, time
runs = int(sys.argv[1])
programs = [arg.split("=", 1) for arg in sys.argv[2:]]
dump = subprocess.Popen(
    ["tcpdump", "-i", "lo", "-n", "-tt", "--time-stamp-precision=micro", "-l",
     "tcp[tcpflags] & (tcp-syn|tcp-ack) == tcp-syn"],
    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
time.sleep(1.0)
quiet = os.open(os.devnull, os.O_WRONLY)
spans = {label: [] for label, _ in programs}
for _ in range(runs):
    for label, path in programs:
        start = time.time()
        pid = os.posix_spawn(path, [path, "127.0.0.1"], os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, quiet, 1)])
        os.waitpid(pid, 0)
        spans[label].append((start, time.time()))
        time.sleep(0.05)
time.sleep(0.5)
dump.terminate()
syns = [float(line.split()[0]) for line in dump.communicate()[0].splitlines()
        if line[:1].isdigit()]

def loader_cycles(path):
    found = []
    for _ in range(min(runs, 60)):
        out = subprocess.run([path], env=dict(os.environ, LD_DEBUG="statistics"),
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
        found += [int(l.split(":")[-1].split()[0]) for l in out.splitlines()
                  if "total startup time in dynamic loader" in l]
    return statistics.median(found)

def page_faults(path):
    out = subprocess.run(["/usr/bin/time", "-f", "%R", path], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True).stderr
    return int(out.strip().splitlines()[-1])

print("%-10s %26s %22s %9s %13s" % ("", "spawn to first SYN (ms)", "ld.so (cycles, median)",
                                   "faults", "libraries"))
for label, path in programs:
    firsts = sorted((min(s for s in syns if a <= s <= b) - a) * 1e3
                    for a, b in spans[label] if any(a <= s <= b for s in syns))
    libraries = subprocess.run(["ldd", path], capture_output=True, text=True).stdout.count("=>")
    print("%-10s median %6.2f, p10 %6.2f (n=%d) %22d %9d %13d" % (
        label, statistics.median(firsts), firsts[len(firsts) // 10], len(firsts),
        loader_cycles(path), page_faults(path), libraries))
EOF
