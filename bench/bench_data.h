// What both engine benchmarks hash: a chunk of pseudo-random bytes and a
// large file made of such chunks, so that the file has real blocks on disk
// and stays in the page cache once written; and the names their figures of
// sha256_update go by, by compression path, which sha256_report.py reads.
#ifndef QUILLBY_BENCH_DATA_H
#define QUILLBY_BENCH_DATA_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "sha256_internal.h"

enum { BENCH_CHUNK_SIZE = 16384, BENCH_FILE_MEGABYTES = 256 };

static const char *const BENCH_UPDATE_NAMES[SHA256_PATHS] = {
    "update_16k/portable", "update_16k/sha_extensions", "update_16k/avx2"};

inline std::vector<uint8_t> bench_bytes(size_t length, uint64_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        bytes[i] = (uint8_t)(seed >> 56);
    }
    return bytes;
}

// Writes BENCH_FILE_MEGABYTES MiB to path; 0 on success, else 1.
inline int write_bench_file(const char *path)
{
    FILE *file = fopen(path, "wb");
    if (!file)
        return 1;
    int failed = 0;
    for (uint64_t mib = 0; mib < BENCH_FILE_MEGABYTES && !failed; mib++) {
        const std::vector<uint8_t> block = bench_bytes(1 << 20, mib + 1);
        failed = fwrite(block.data(), 1, block.size(), file) != block.size();
    }
    return fclose(file) != 0 || failed;
}

#endif
