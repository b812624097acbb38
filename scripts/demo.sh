#!/usr/bin/env bash
# Builds everything (release) and plays the demo: writes a sample recording and shows what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_build release
bin=build/release/bin
demo=build/release/demo.crd
if [ ! -f "$demo" ] || [ "$bin/crdgen" -nt "$demo" ]; then
  "$bin/crdgen" --duration 60 --size 640x480 --channels 2 --picture-every 5 \
    --summary "Demo recording: two talkers, slides every five seconds" -o "$demo"
fi
"$bin/crdinfo" "$demo"
