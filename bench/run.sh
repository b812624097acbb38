#!/usr/bin/env bash
# Builds the benchmarks (release) and runs each against its baseline in the same process,
# printing the ratios. Usage: bench/run.sh [adjust|scan|decode|mixer ...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_build release >/dev/null
bin=build/release/bin
ratio() { # ratio <json> <ours> <baseline> <field>: mean of ours over mean of baseline
  python3 - "$@" <<'PY'
import json, sys, statistics
data = json.load(open(sys.argv[1]))["benchmarks"]
def mean(prefix, field):
    return statistics.mean(b[field] for b in data if b["name"].startswith(prefix) and b.get("run_type") == "iteration")
ours, base, field = sys.argv[2], sys.argv[3], sys.argv[4]
o, b = mean(ours, field), mean(base, field)
if field == "real_time":
    print(f"{ours}: {o:.2f} {data[0]['time_unit']} vs {base}: {b:.2f} -> {b / o:.2f}x the baseline's speed")
else:
    print(f"{ours}: {o / 1e9:.2f} G/s vs {base}: {b / 1e9:.3f} G/s -> {o / b:.2f}x")
PY
}
for what in "${@:-adjust scan decode}"; do
  for w in $what; do
    out=$(mktemp)
    "$bin/bench_$w" --benchmark_repetitions=3 --benchmark_format=console --benchmark_out="$out" --benchmark_out_format=json >&2
    case $w in
      adjust) ratio "$out" BM_AdjustPicture720p BM_Memcpy720p bytes_per_second ;;
      scan) ratio "$out" BM_OpenScan BM_BufferedPreadWalk real_time ;;
      decode)
        ratio "$out" BM_ReadManDecode/640/480 BM_BareDecode/640/480 items_per_second
        ratio "$out" BM_ReadManDecode/1280/720 BM_BareDecode/1280/720 items_per_second ;;
      mixer) # CPU per 20 ms push period as a share of one core
        python3 - "$out" <<'PY'
import json, sys, statistics
data = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"]
for name in sorted({b["run_name"] for b in data}):
    us = statistics.mean(b["cpu_time"] for b in data if b["run_name"] == name)
    print(f"{name}: {us:.1f} us CPU per 20 ms = {us / 200:.3f}% of one core")
PY
        ;;
    esac
    rm -f "$out"
  done
done
