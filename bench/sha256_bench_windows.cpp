// Throughput of the SHA-256 engine as a Windows program (run under Wine by
// scripts/bench.sh), timed with QueryPerformanceCounter: sha256_update in
// 16 KiB chunks on each path and sha256_file_hex on a 256 MiB file, best of
// several rounds, in MB/s (10^6 bytes), to set beside sha256_bench's figures.
// Usage: sha256_bench_windows FILE  (FILE is made, hashed and deleted)
#include <windows.h>
#include <stdio.h>

#include "bench_data.h"
#include "sha256.h"
#include "sha256_internal.h"

static double seconds_now(void)
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

static void report(const char *name, double bytes, double best_seconds, const char *label)
{
    printf("%-28s %10.1f MB/s  %s\n", name, bytes / best_seconds / 1e6, label);
}

static void update_in_chunks(const char *name, int path)
{
    if (path == SHA256_SHA_EXTENSIONS && !sha256_cpu_has_sha_extensions()) {
        printf("%-28s skipped: this CPU lacks the SHA extensions\n", name);
        return;
    }
    const std::vector<uint8_t> chunk = bench_bytes(BENCH_CHUNK_SIZE, 1);
    const int chunks_per_round = 4096;
    double best = 1e30;
    sha256_ctx ctx;
    sha256_init(&ctx);
    for (int round = 0; round < 10; round++) {
        double start = seconds_now();
        for (int i = 0; i < chunks_per_round; i++)
            sha256_update_on(&ctx, chunk.data(), chunk.size(), path);
        double elapsed = seconds_now() - start;
        if (elapsed < best)
            best = elapsed;
    }
    report(name, (double)chunks_per_round * BENCH_CHUNK_SIZE, best, "");
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        printf("usage: sha256_bench_windows FILE\n");
        return 2;
    }
    update_in_chunks("update_16k/portable", SHA256_PORTABLE);
    update_in_chunks("update_16k/sha_extensions", SHA256_SHA_EXTENSIONS);

    if (write_bench_file(argv[1]) != 0) {
        printf("cannot write %s\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    char text[65] = "";
    double best = 1e30;
    for (int round = 0; round < 10; round++) {
        double start = seconds_now();
        int failed = sha256_file_hex(argv[1], text);
        double elapsed = seconds_now() - start;
        if (failed) {
            printf("cannot open %s\n", argv[1]);
            remove(argv[1]);
            return 1;
        }
        if (elapsed < best)
            best = elapsed;
    }
    remove(argv[1]);
    report("file_hex", (double)BENCH_FILE_MEGABYTES * (1 << 20), best, text);
    return 0;
}
