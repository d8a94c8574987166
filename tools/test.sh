#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test; ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh test
rm -rf build
tools/build.sh
ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)"
