#!/usr/bin/env bash
# The player's figures on a virtual X server: CPU (percent of one core) and peak memory while
# playing 640x480 and 1280x720 recordings with sound (SDL's disk driver), and the seek latency
# from the thumb's release to the new picture for 1280x720 with 2 s and 10 s key-frame
# intervals.
#
#   bench/player_figures.sh [BUILD_DIR]      (default build/release; needs BrisaPlayer,
#                                             crdgen and bench_seek built there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
bin=$PWD/$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/sound.raw
screen="-screen 0 1920x1080x24"
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# play SIZE: CPU over seconds 5 to 25 of playback, and the peak resident memory.
play() {
  local size=$1 rec=$work/play-$1.crd
  "$bin/crdgen" --duration 40 --size "$size" --fps 30 --gop 60 --channels 2 --picture-every 5 -o "$rec" >/dev/null
  xvfb-run -a -s "$screen" sh -c 'echo $$ > "$0"; exec "$1" "$2" --screenshot-after 28 "$3"' \
    "$work/pid" "$bin/BrisaPlayer" "$rec" "$work/shot-$size.png" >/dev/null 2>&1 &
  local runner=$!
  sleep 5
  local pid; pid=$(cat "$work/pid")
  local t0; t0=$(cpu_ticks "$pid")
  sleep 20
  local t1; t1=$(cpu_ticks "$pid")
  local peak; peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  wait "$runner" || true
  awk -v s="$size" -v d=$((t1 - t0)) -v hz="$ticks" -v kb="$peak" \
    'BEGIN { printf "%-9s  CPU %5.1f %% of one core   peak memory %6.1f MB\n", s, 100 * d / hz / 20, kb / 1024 }'
}

seek() {
  local gop=$1 rec=$work/seek-$1.crd
  "$bin/crdgen" --duration 60 --size 1280x720 --fps 30 --gop "$gop" --channels 2 -o "$rec" >/dev/null
  printf "1280x720, key frame every %3d frames (%4.1f s): " "$gop" "$(awk -v g="$gop" 'BEGIN{print g/30}')"
  SDL_AUDIODRIVER=dummy xvfb-run -a -s "$screen" "$bin/bench_seek" "$rec" 40 2>/dev/null
}

echo "Playback (player process only; the mixer runs beside it):"
play 640x480
play 1280x720
echo "Seek latency, thumb released to picture painted (paused):"
seek 60
seek 300
