/* The engine's inner parts, shared by its own files and by the tests that
 * drive each compression path directly whatever this CPU would choose.
 * Not for the installer: it calls only what sha256.h declares. */
#ifndef QUILLBY_SHA256_INTERNAL_H
#define QUILLBY_SHA256_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "sha256.h"

/* The ways to compress: plain integer code, which runs everywhere and is the
 * reference; the x86 SHA extensions; and, for CPUs with AVX2 and BMI2 but
 * not the SHA extensions, the schedule in AVX2 and the rounds in BMI2's
 * integer code. SHA256_PATHS counts them. */
enum { SHA256_PORTABLE = 0, SHA256_SHA_EXTENSIONS = 1, SHA256_AVX2 = 2, SHA256_PATHS = 3 };

/* K0..K63, aligned so that the vector paths load four at a time. */
extern const uint32_t sha256_round_constants[64];

/* x rotated right by n bits, 0 < n < 32: one instruction, RORX in code built
 * for BMI2. */
static inline uint32_t sha256_rotate_right(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

/* Compresses the block waiting in data into state, then each of the `more`
 * 64-byte blocks at in, which must not overlap data; data ends as the last
 * block compressed. The chaining value is read from state once and written
 * back once: between blocks it stays in registers on the SHA-extensions
 * path, and in locals on the others (registers where the rounds leave any
 * free). The portable and SHA-extensions paths copy each block into data
 * before compressing it; the AVX2 one reads each where it stands and copies
 * the last one in at the end. */
void sha256_blocks_portable(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more);
void sha256_blocks_sha_extensions(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more);
void sha256_blocks_avx2(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more);

/* One of the above, as path says. */
void sha256_blocks_on(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more, int path);

/* 1 when this CPU runs the given path, else 0: the portable one always; the
 * SHA-extensions one with SHA, SSSE3 and SSE4.1; the AVX2 one with AVX2,
 * BMI1 (ANDN) and BMI2, and the YMM registers saved by the operating system
 * (CPUID's OSXSAVE and AVX, then XGETBV). */
int sha256_cpu_runs(int path);

/* The path sha256_update and sha256_final take: the SHA extensions where
 * this CPU runs them, else AVX2, else the portable code; decided from CPUID
 * on first use and fixed for the life of the process. */
int sha256_chosen_path(void);

/* sha256_update and sha256_final on a given path; path must be one this CPU
 * runs. */
void sha256_update_on(sha256_ctx *ctx, const void *bytes, size_t length, int path);
void sha256_final_on(sha256_ctx *ctx, uint8_t digest[32], int path);

/* Bytes sha256_file_hex asks for per read, into a buffer on its stack: few
 * enough calls that their cost stays small beside the hashing, under Wine
 * too (each read there costs more than on Linux), while the buffer stays in
 * the core's own cache and well within a thread's stack. */
enum { SHA256_FILE_READ_SIZE = 131072 };

#endif
