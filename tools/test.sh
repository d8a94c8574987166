#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test; ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh test
# The libraries depend one way; an include against that order fails before anything is built.
tools/check-layers.sh
rm -rf build
tools/build.sh
ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)"
