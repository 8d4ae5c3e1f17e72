#!/bin/sh
# Builds everything and runs every test in one CTest run: the engine natively
# under sanitizers, the Windows programs under Wine, the budget checks.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
ctest --preset all
