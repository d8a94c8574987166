#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package build/tavinor_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh package
tools/build.sh
cd build && cpack -G DEB
