#!/usr/bin/env bash
# Release lateness of the playback engine against a 1 ms sleep-polling loop, in one run, with
# the other core busy. Writes an index-only crdgen recording (1280x720, 30 fps, two talkers)
# and plays SECONDS of it by each method, alternating in 30 s chunks (wall time about twice
# SECONDS). Usage: bench/engine_lateness.sh [SECONDS] [BUILD_DIR]
#   SECONDS    recording time played by each method; 300 by default, 30 is enough for CI
#   BUILD_DIR  a release build tree (default build/release; configured when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=${2:-build/release}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target bench_engine crdgen -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/crdgen" -o "$work/engine.crd" --duration "$seconds" --size 1280x720 --fps 30 --channels 2 --fast >/dev/null
"$build/bin/bench_engine" "$work/engine.crd" --seconds "$seconds" --chunk 30
