#!/usr/bin/env bash
# Builds the fuzz targets (asan preset, clang) and runs one of them.
# Usage: fuzz/run.sh [target] [seconds]
#   target: recording (default), mixer_stream, language_ini, header_text
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_install_packages clang libclang-rt-14-dev
target=fuzz_${1:-recording}
seconds=${2:-600}
qrv_build asan >/dev/null
bin=build/asan/bin
corpus=build/asan/corpus-$target
mkdir -p "$corpus"
# The recording reader starts from small recordings written by the fixture writer.
[ "$target" = fuzz_recording ] && "$bin/fuzz_seeds" "$corpus"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
"$bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=262144 -print_final_stats=1 "$corpus"
