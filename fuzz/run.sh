#!/usr/bin/env bash
# Builds the fuzz targets (asan preset, clang) and fuzzes the recording reader.
# Usage: fuzz/run.sh [seconds]   (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_install_packages clang libclang-rt-14-dev
qrv_build asan >/dev/null
bin=build/asan/bin
corpus=build/asan/fuzz-corpus
"$bin/fuzz_seeds" "$corpus"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
"$bin/fuzz_recording" -max_total_time="${1:-600}" -rss_limit_mb=2048 -max_len=262144 -print_final_stats=1 "$corpus"
