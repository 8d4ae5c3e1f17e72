#!/usr/bin/env python3
"""Prints the SHA-256 engine's figures from one scripts/bench.sh run, and the
ratios the engine is judged by: each figure is the best of its repetitions,
in MB/s (10^6 bytes per second).

Usage: sha256_report.py HOST_JSON OPENSSL_NO_SHA_JSON OPENSSL_INTEGER_JSON
       WINDOWS_TXT SHA256SUM_SECONDS OPENSSL_DGST_SECONDS FILE_BYTES
"""
import json
import sys


def best_rates(path):
    """Best bytes per second of each benchmark in a Google Benchmark JSON file,
    in MB/s, keyed by name without its /min_time and /real_time parts."""
    rates = {}
    with open(path) as f:
        for run in json.load(f)["benchmarks"]:
            if run.get("run_type") != "iteration" or "bytes_per_second" not in run:
                continue
            name = "/".join(part for part in run["run_name"].split("/")
                            if not part.startswith(("min_time:", "real_time")))
            rates[name] = max(rates.get(name, 0.0), run["bytes_per_second"] / 1e6)
    return rates


def windows_rates(path):
    rates = {}
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) >= 3 and words[2] == "MB/s":
                rates[words[0]] = float(words[1])
    return rates


def main():
    host = best_rates(sys.argv[1])
    # The masked runs time the engine's matching path too, for ratios within
    # one run: AVX2 beside OpenSSL's AVX2 code, portable beside its integer
    # code (and beside its AVX2 code, to show what the vector paths gain).
    no_sha_run = best_rates(sys.argv[2])
    integer_run = best_rates(sys.argv[3])
    no_sha = no_sha_run["openssl_16k"]
    integer = integer_run["openssl_16k"]
    windows = windows_rates(sys.argv[4])
    file_bytes = float(sys.argv[7])
    sha256sum = file_bytes / float(sys.argv[5]) / 1e6
    openssl_dgst = file_bytes / float(sys.argv[6]) / 1e6

    rows = [
        ("sha256_update, 16 KiB chunks, SHA extensions", host.get("update_16k/sha_extensions")),
        ("sha256_update, 16 KiB chunks, AVX2", host.get("update_16k/avx2")),
        ("sha256_update, 16 KiB chunks, portable", host["update_16k/portable"]),
        ("OpenSSL EVP, 16 KiB chunks", host["openssl_16k"]),
        ("OpenSSL EVP, 16 KiB chunks, SHA masked (AVX2)", no_sha),
        ("OpenSSL EVP, 16 KiB chunks, integer only", integer),
        ("sha256_file_hex, 256 MiB file", host["file_hex"]),
        ("portable path, same file, same reads", host["file_same_reads/portable"]),
        ("OpenSSL EVP, same file, same reads", host["file_same_reads/openssl"]),
        ("sha256sum, same file", sha256sum),
        ("openssl dgst -sha256, same file", openssl_dgst),
        ("Windows under Wine: 16 KiB chunks, SHA ext.", windows.get("update_16k/sha_extensions")),
        ("Windows under Wine: 16 KiB chunks, AVX2", windows.get("update_16k/avx2")),
        ("Windows under Wine: 16 KiB chunks, portable", windows.get("update_16k/portable")),
        ("Windows under Wine: sha256_file_hex", windows.get("file_hex")),
    ]
    print("\nSHA-256 engine, MB/s (best of each)")
    for label, rate in rows:
        print(f"  {label:<46} {'skipped' if rate is None else f'{rate:9.1f}'}")

    def ratio(label, numerator, denominator, aim=None):
        if numerator is None or denominator is None:
            print(f"  {label:<58}  n/a")
            return
        value = numerator / denominator
        verdict = "" if aim is None else ("  aim >= %.2f: %s" % (aim, "met" if value >= aim else "NOT met"))
        print(f"  {label:<58} {value:6.3f}{verdict}")

    sha = host.get("update_16k/sha_extensions")
    avx2 = host.get("update_16k/avx2")
    portable = host["update_16k/portable"]
    print("\nRatios")
    # A mask that OpenSSL ignored would leave its SHA-extensions speed.
    for label, masked in (("SHA-masked", no_sha), ("integer-only", integer)):
        took = "took effect" if masked < 0.6 * host["openssl_16k"] else "did NOT take effect"
        print(f"  {'OpenSSL ' + label + ' / OpenSSL':<58} {masked / host['openssl_16k']:6.3f}  mask {took}")
    ratio("SHA extensions / OpenSSL, 16 KiB chunks", sha, host["openssl_16k"], 1.0)
    ratio("AVX2 / OpenSSL SHA-masked, its AVX2 code (same run)", no_sha_run.get("update_16k/avx2"), no_sha, 0.97)
    ratio("sha256_file_hex / OpenSSL on the same reads", host["file_hex"], host["file_same_reads/openssl"], 1.0)
    ratio("sha256_file_hex / openssl dgst", host["file_hex"], openssl_dgst)
    ratio("portable / OpenSSL integer-only (same run)", integer_run["update_16k/portable"], integer, 0.9)
    ratio("portable / OpenSSL SHA-masked, its AVX2 code (same run)", no_sha_run["update_16k/portable"], no_sha)
    ratio("portable / sha256sum, same file", host["file_same_reads/portable"], sha256sum, 1.0)
    ratio("Windows / native, SHA extensions", windows.get("update_16k/sha_extensions"), sha, 0.95)
    ratio("Windows / native, AVX2", windows.get("update_16k/avx2"), avx2, 0.95)
    ratio("Windows / native, portable", windows.get("update_16k/portable"), portable, 0.95)
    ratio("Windows / native, sha256_file_hex", windows.get("file_hex"), host["file_hex"], 0.95)


if __name__ == "__main__":
    main()
