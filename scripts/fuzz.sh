#!/bin/sh
# Fuzzes the SHA-256 engine against OpenSSL with libFuzzer (clang), under
# AddressSanitizer and UBSan, for a bounded time; the corpus it grows is
# kept in build/fuzz-corpus for the next run.
# Usage: fuzz.sh [SECONDS]   (default 60; the tests run it briefly)
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
sh scripts/setup.sh
mkdir -p build/fuzz build/fuzz-corpus
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Isha256 tests/fuzz/sha256_fuzz.cpp sha256/*.cpp -lcrypto -o build/fuzz/sha256_fuzz
build/fuzz/sha256_fuzz -max_total_time="$seconds" -max_len=70000 -print_final_stats=1 build/fuzz-corpus
