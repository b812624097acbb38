#!/usr/bin/env bash
# Builds everything (release) and plays the demo: writes a sample recording and shows what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_build release
bin=build/release/bin
"$bin/crdgen" --fast --duration 60 --size 640x480 --channels 2 -o build/release/demo.crd
"$bin/crdinfo" build/release/demo.crd
