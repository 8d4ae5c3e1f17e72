#!/bin/sh
# Configures and builds both trees: the Windows program and its tests
# (build/windows) and the host build of the engine (build/native).
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset native >/dev/null
cmake --build --preset native
