#!/bin/sh
# Prints the benchmarks' figures: the verified download against the bare
# transfer, under Wine, over a 256 MB body from the local HTTPS server.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
build=$PWD/build/windows
state=$build/bench-server
prefix=$build/wineprefix
trap 'bash tests/harness/server_ctl.sh stop "$state"' EXIT
bash tests/harness/server_ctl.sh start "$state" "$build/served-files" 1200
tools/wine-run "$prefix" "$build/tests/trust_ca.exe" "Z:$state/ca.der" >/dev/null
port=$(sed -n 's/^TRUSTED_PORT=//p' "$state/server.txt")
megabytes=256
# The server repeats one 1 MiB block; its digest comes from the server's own
# definition of that block, not from the code under test.
digest=$(python3 -c "
import hashlib, sys
sys.path.insert(0, 'tests/harness')
from https_server import BIG_BLOCK
h = hashlib.sha256()
for _ in range($megabytes): h.update(BIG_BLOCK)
print(h.hexdigest())")
tools/wine-run "$prefix" "$build/bench/download_bench.exe" \
  "https://localhost:$port/big?mb=$megabytes" "$digest" "Z:$build/bench-body.bin" 3 | tr -d '\r' | grep -v '^Downloading' || true
rm -f "$build/bench-body.bin"
