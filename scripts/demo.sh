#!/bin/sh
# The main job: builds quillby-setup.exe and runs it under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target quillby-setup
tools/wine-run build/windows/wineprefix build/windows/quillby-setup.exe --selftest
