// Throughput of the SHA-256 engine as a Windows program (run under Wine by
// scripts/bench.sh), timed with QueryPerformanceCounter: sha256_update in
// 16 KiB chunks on each path this CPU runs and sha256_file_hex on a 256 MiB
// file, best of several rounds, in MB/s (10^6 bytes), to set beside
// sha256_bench's figures (sha256_report.py reads them by name).
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

/* sha256_update in 16 KiB chunks on every path this CPU runs, a round of
 * each in turn, so that a slow spell of the machine does not fall on one
 * path alone; each path's best round counts. */
static void update_in_chunks(void)
{
    enum { ROUNDS = 20, CHUNKS_PER_ROUND = 4096 };
    const std::vector<uint8_t> chunk = bench_bytes(BENCH_CHUNK_SIZE, 1);
    double best[SHA256_PATHS];
    sha256_ctx ctx[SHA256_PATHS];
    for (int path = 0; path < SHA256_PATHS; path++) {
        best[path] = 1e30;
        sha256_init(&ctx[path]);
    }
    for (int round = 0; round < ROUNDS; round++) {
        for (int path = 0; path < SHA256_PATHS; path++) {
            if (!sha256_cpu_runs(path))
                continue;
            double start = seconds_now();
            for (int i = 0; i < CHUNKS_PER_ROUND; i++)
                sha256_update_on(&ctx[path], chunk.data(), chunk.size(), path);
            double elapsed = seconds_now() - start;
            if (elapsed < best[path])
                best[path] = elapsed;
        }
    }
    for (int path = 0; path < SHA256_PATHS; path++) {
        if (sha256_cpu_runs(path))
            report(BENCH_UPDATE_NAMES[path], (double)CHUNKS_PER_ROUND * BENCH_CHUNK_SIZE, best[path], "");
        else
            printf("%-28s skipped: this CPU does not run this path\n", BENCH_UPDATE_NAMES[path]);
    }
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        printf("usage: sha256_bench_windows FILE\n");
        return 2;
    }
    update_in_chunks();

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
