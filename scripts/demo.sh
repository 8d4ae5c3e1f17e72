#!/bin/sh
# The main job: builds quillby-setup.exe and the sample course's installer,
# then shows the whole installation working under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target quillby-setup quillby-sample-setup standin_powershell trust_ca
sh scripts/run-demo.sh build/windows
