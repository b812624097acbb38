#!/usr/bin/env bash
# Builds everything (debug, warnings as errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
qrv_install_packages
qrv_build debug
ctest --preset debug "$@"
