#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on this desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
  echo "tavinor: kein Desktop gefunden (DISPLAY ist nicht gesetzt) - bitte in einer grafischen X11-Sitzung starten." >&2
  exit 1
fi
tools/deps.sh
# Only the program and the libraries it loads: the tests are not needed to run it.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target tavinor
exec build/bin/tavinor
