// Throughput of the SHA-256 engine on the host (Google Benchmark), beside
// OpenSSL's: sha256_update in 16 KiB chunks on each path this CPU runs,
// sha256_file_hex on a 256 MiB file in the page cache (and the portable path
// behind the same reads), and OpenSSL's EVP SHA-256 on the same chunks and
// over the same reads of the same file. Run it again with OPENSSL_ia32cap set
// to see OpenSSL without its SHA-extensions code (its AVX2 code, to set
// beside the AVX2 path), or with integer code only (beside the portable
// path); scripts/bench.sh does all three and prints the ratios.
// Usage: sha256_bench [--file=PATH] [--keep-file] [Google Benchmark flags]
// The file is made at PATH (default in /tmp) and deleted at the end unless
// --keep-file asks for it to stay for other programs to hash.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "bench_data.h"
#include "sha256.h"
#include "sha256_internal.h"

namespace {

void update_in_chunks(benchmark::State &state, int path)
{
    if (!sha256_cpu_runs(path)) {
        state.SkipWithError("this CPU does not run this path");
        return;
    }
    const std::vector<uint8_t> chunk = bench_bytes(BENCH_CHUNK_SIZE, 1);
    sha256_ctx ctx;
    sha256_init(&ctx);
    for (auto _ : state) {
        sha256_update_on(&ctx, chunk.data(), chunk.size(), path);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * BENCH_CHUNK_SIZE);
}

void openssl_in_chunks(benchmark::State &state)
{
    const std::vector<uint8_t> chunk = bench_bytes(BENCH_CHUNK_SIZE, 1);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_DigestInit_ex(md, EVP_sha256(), NULL);
    for (auto _ : state) {
        EVP_DigestUpdate(md, chunk.data(), chunk.size());
        benchmark::ClobberMemory();
    }
    EVP_MD_CTX_free(md);
    state.SetBytesProcessed((int64_t)state.iterations() * BENCH_CHUNK_SIZE);
}

// The label carries the digest, so a run shows that the figure is for the
// right answer and other programs' digests of the file can be compared.
void file_hex(benchmark::State &state, const char *path)
{
    char text[65] = "";
    for (auto _ : state) {
        if (sha256_file_hex(path, text) != 0) {
            state.SkipWithError("cannot open the benchmark file");
            return;
        }
    }
    state.SetLabel(text);
    state.SetBytesProcessed((int64_t)state.iterations() * BENCH_FILE_MEGABYTES * (1 << 20));
}

enum { HASHER_OPENSSL = 2 };

// The very reads sha256_file_hex makes, hashed on the portable path
// (SHA256_PORTABLE) or by OpenSSL (HASHER_OPENSSL), so that figures on the
// same file differ in the hashing alone.
void file_same_reads(benchmark::State &state, const char *path, int hasher)
{
    uint8_t digest[EVP_MAX_MD_SIZE];
    char text[65] = "";
    std::vector<uint8_t> buffer(SHA256_FILE_READ_SIZE);
    for (auto _ : state) {
        FILE *file = fopen(path, "rb");
        if (!file) {
            state.SkipWithError("cannot open the benchmark file");
            return;
        }
        EVP_MD_CTX *md = EVP_MD_CTX_new();
        sha256_ctx ctx;
        EVP_DigestInit_ex(md, EVP_sha256(), NULL);
        sha256_init(&ctx);
        size_t got;
        while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) {
            if (hasher == HASHER_OPENSSL)
                EVP_DigestUpdate(md, buffer.data(), got);
            else
                sha256_update_on(&ctx, buffer.data(), got, hasher);
        }
        fclose(file);
        if (hasher == HASHER_OPENSSL)
            EVP_DigestFinal_ex(md, digest, NULL);
        else
            sha256_final_on(&ctx, digest, hasher);
        EVP_MD_CTX_free(md);
    }
    sha256_digest_text(digest, text);
    state.SetLabel(text);
    state.SetBytesProcessed((int64_t)state.iterations() * BENCH_FILE_MEGABYTES * (1 << 20));
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    std::string file_path = "/tmp/quillby-sha256-bench-" + std::to_string(getpid()) + ".bin";
    int keep_file = 0;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--file=", 7) == 0)
            file_path = argv[i] + 7;
        else if (strcmp(argv[i], "--keep-file") == 0)
            keep_file = 1;
        else {
            fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
    }
    if (write_bench_file(file_path.c_str()) != 0) {
        fprintf(stderr, "cannot write %s\n", file_path.c_str());
        remove(file_path.c_str());
        return 1;
    }
    // Wall-clock time throughout, as the Windows benchmark and the tools'
    // timings measure: the figures stand beside each other.
    const char *path = file_path.c_str();
    for (int path = 0; path < SHA256_PATHS; path++)
        benchmark::RegisterBenchmark(BENCH_UPDATE_NAMES[path], update_in_chunks, path)->UseRealTime();
    benchmark::RegisterBenchmark("openssl_16k", openssl_in_chunks)->UseRealTime();
    benchmark::RegisterBenchmark("file_hex", file_hex, path)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime();
    benchmark::RegisterBenchmark("file_same_reads/portable", file_same_reads, path, (int)SHA256_PORTABLE)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime();
    benchmark::RegisterBenchmark("file_same_reads/openssl", file_same_reads, path, (int)HASHER_OPENSSL)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!keep_file)
        remove(file_path.c_str());
    return 0;
}
