/* The engine's inner parts, shared by its own files and by the tests that
 * drive each compression path directly whatever this CPU would choose.
 * Not for the installer: it calls only what sha256.h declares. */
#ifndef QUILLBY_SHA256_INTERNAL_H
#define QUILLBY_SHA256_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "sha256.h"

/* The two ways to compress: plain integer code, which runs everywhere and is
 * the reference, and the x86 SHA extensions. */
enum { SHA256_PORTABLE = 0, SHA256_SHA_EXTENSIONS = 1 };

/* K0..K63, aligned so that the vector path loads four at a time. */
extern const uint32_t sha256_round_constants[64];

/* Compresses the block waiting in data into state, then each of the `more`
 * 64-byte blocks at in, copying each into data before compressing it, so that
 * data ends as the last block compressed. The chaining value is read from
 * state once and written back once: between blocks it stays in registers on
 * the SHA-extensions path, and in locals on the portable one (registers
 * where the rounds leave any free). */
void sha256_blocks_portable(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more);
void sha256_blocks_sha_extensions(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more);

/* One of the two above, as path says. */
void sha256_blocks_on(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more, int path);

/* 1 when this CPU runs sha256_blocks_sha_extensions (SHA, SSSE3, SSE4.1),
 * else 0. */
int sha256_cpu_has_sha_extensions(void);

/* The path sha256_update and sha256_final take: decided from CPUID on first
 * use and fixed for the life of the process. */
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
