#!/usr/bin/env bash
# Builds everything (release), writes the demo recording and plays it in the player, with
# sound.
#
# With a display the player opens on it and plays until you close it. Without one ($DISPLAY
# unset) the player runs on a virtual X server with SDL's disk sound driver: it plays for
# DEMO_SECONDS (default 8) seconds, saves a screenshot, and the sound the mixer played is kept
# beside it; the script prints where both are.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_build release
out=build/release
bin=$out/bin
demo=$out/demo.crd
if [ ! -f "$demo" ] || [ "$bin/crdgen" -nt "$demo" ]; then
  "$bin/crdgen" --duration 60 --size 640x480 --channels 2 --picture-every 5 \
    --summary "Demo recording: two talkers, slides every five seconds" -o "$demo"
fi
"$bin/crdinfo" "$demo"

if [ -n "${DISPLAY:-}" ]; then
  exec "$bin/BrisaPlayer" "$demo"
fi

seconds=${DEMO_SECONDS:-8}
screenshot=$PWD/$out/demo-screenshot.png
sound=$PWD/$out/demo-sound.raw
wav=$PWD/$out/demo-sound.wav
rm -f "$screenshot" "$sound" "$wav"
# The player's settings and message sockets go to a scratch folder, not to the user's.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config" "$scratch/data" "$scratch/runtime"
chmod 700 "$scratch/runtime"
echo "No display: playing $demo for $seconds s on a virtual X server"
XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data XDG_RUNTIME_DIR=$scratch/runtime \
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$sound \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$bin/BrisaPlayer" "$demo" --screenshot-after "$seconds" "$screenshot" 2>&1 | grep -v '^CRITICAL: ' || true

[ -f "$screenshot" ] || { echo "The player saved no screenshot" >&2; exit 1; }
# The mixer plays 16-bit mono at 16 kHz; the same samples with a WAV header, for any player.
le() { # value bytes: the value in little-endian bytes
  local v=$1 n=$2 i
  for ((i = 0; i < n; i++)); do printf "\\x$(printf %02x $(((v >> (8 * i)) & 255)))"; done
}
if [ -f "$sound" ]; then
  size=$(stat -c %s "$sound")
  {
    printf 'RIFF'; le $((36 + size)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le 1 2
    le 16000 4; le 32000 4; le 2 2; le 16 2; printf 'data'; le "$size" 4
    cat "$sound"
  } > "$wav"
fi
echo "Screenshot:    $screenshot"
if [ -f "$sound" ]; then
  echo "Sound capture: $sound (16-bit mono, 16 kHz), and as WAV: $wav"
else
  echo "Sound capture: none (the mixer did not start)"
fi
