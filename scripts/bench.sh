#!/bin/sh
# Prints the benchmarks' figures: the SHA-256 engine on the host (each path
# against OpenSSL's code for the same instructions, and against sha256sum)
# and as a Windows program under Wine, beside the program's size; then the
# verified download against the bare transfer, under Wine, over a 256 MB body
# from the local HTTPS server: throughput, and the process's CPU time per
# 100 MB.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
build=$PWD/build/windows

# The engine. The host figures come from a Release tree of their own: the
# native preset's is built under sanitizers.
host=$PWD/build/bench
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$host" --target sha256_bench >/dev/null
(
  file=$host/sha256-bench.bin
  trap 'rm -f "$file" "$host/windows-bench.bin"' EXIT
  # Repetitions interleaved at random, so that a slow spell of this machine
  # does not fall on one benchmark alone; the report takes each one's best.
  runs="--benchmark_repetitions=10 --benchmark_enable_random_interleaving=true"
  runs="$runs --benchmark_display_aggregates_only=true --benchmark_out_format=json"
  "$host/bench/sha256_bench" --file="$file" --keep-file $runs --benchmark_out="$host/host.json"
  # OpenSSL again, beside the engine's paths in the same run: without its
  # SHA-extensions code (leaf 7 EBX bit 29), which leaves its AVX2 and BMI
  # code, the AVX2 path's match; then with integer code only (no SSSE3, AVX,
  # AVX2, BMI either), the portable path's match. The report shows from the
  # figures whether each mask took effect.
  for pass in "no-sha :~0x20000000" "integer ~0x1000020000000000:~0x20000128"; do
    echo "OpenSSL with OPENSSL_ia32cap=${pass#* }:"
    OPENSSL_ia32cap="${pass#* }" "$host/bench/sha256_bench" --file="$file" --keep-file $runs \
      --benchmark_filter='openssl_16k|update_16k/(portable|avx2)' --benchmark_out="$host/openssl-${pass%% *}.json" \
      | grep '_median'
  done
  # Command-line tools on the same file, warm in the page cache: best of 3.
  best_seconds() {
    best=""
    for _ in 1 2 3; do
      start=$(date +%s%N)
      "$@" >"$host/tool-output.txt"
      elapsed=$(( $(date +%s%N) - start ))
      if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    done
    echo "$best" | awk '{ printf "%.6f", $1 / 1e9 }'
  }
  sha256sum_seconds=$(best_seconds sha256sum "$file")
  echo "sha256sum:            $(cut -c1-64 "$host/tool-output.txt")"
  openssl_seconds=$(best_seconds openssl dgst -sha256 -r "$file")
  echo "openssl dgst -sha256: $(cut -c1-64 "$host/tool-output.txt")"
  echo "Windows program under Wine:"
  winekit/wine-run "$build/wineprefix" "$build/bench/sha256_bench_windows.exe" "Z:$host/windows-bench.bin" \
    | tr -d '\r' | tee "$host/windows.txt"
  python3 bench/sha256_report.py "$host/host.json" "$host/openssl-no-sha.json" "$host/openssl-integer.json" \
    "$host/windows.txt" "$sha256sum_seconds" "$openssl_seconds" "$(stat -c %s "$file")"
  echo
  echo "quillby-setup.exe: $(stat -c %s "$build/quillby-setup.exe") bytes, stripped"
)

state=$build/bench-server
prefix=$build/wineprefix
trap 'bash winekit/server_ctl.sh stop "$state"' EXIT
bash winekit/server_ctl.sh start "$state" "$build/served-files" 1200
winekit/wine-run "$prefix" "$build/winekit/trust_ca.exe" "Z:$state/ca.der" >/dev/null
port=$(sed -n 's/^TRUSTED_PORT=//p' "$state/server.txt")
megabytes=256
# The server repeats one 1 MiB block; its digest comes from the server's own
# definition of that block, not from the code under test.
digest=$(python3 -c "
import hashlib, sys
sys.path.insert(0, 'winekit')
from https_server import BIG_BLOCK
h = hashlib.sha256()
for _ in range($megabytes): h.update(BIG_BLOCK)
print(h.hexdigest())")
# Once into the build tree on disk, as a learner's download goes, and once
# into memory, which leaves the installer's own cost (hashing, buffering)
# beside the transfer's.
for target in "disk:$build/bench-body.bin" "memory:/dev/shm/quillby-bench-body.bin"; do
  echo "Verified download into a file on $(echo "$target" | cut -d: -f1):"
  winekit/wine-run "$prefix" "$build/bench/download_bench.exe" "https://localhost:$port/big?mb=$megabytes" \
    "$digest" "Z:${target#*:}" 5 | tr -d '\r' | grep -v -e '^Downloading' -e '^Checksum' -e '^$' || true
  rm -f "${target#*:}"
done

# An update put in place through staging, beyond its unpacking: a course the
# size of the sample's, one the size of the embeddable runtime's, and one of
# 5,000 small files, each over an installed version of the same files.
run=$PWD/winekit/wine-run
for files_bytes in "10 26000" "40 280000" "5000 4096"; do
  (cd "$build" && "$run" "$prefix" "$build/bench/staging_bench.exe" $files_bytes) |
    tr -d '\r' | grep '^staging_bench' || true
done
