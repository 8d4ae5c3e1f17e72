/* SHA-256 (FIPS 180-4) as a streaming engine and as one-call digests in text.
 *
 * The caller owns the context; the module never allocates and keeps no state
 * but the compression path it picked from CPUID on first use.
 * Calling order: sha256_init, any number of sha256_update, one sha256_final.
 * sha256_final does not reset the context: a second call on the same context
 * pads again and yields another value, so hash again only after sha256_init.
 *
 * The context is aligned to its own rounded-up size, 128 bytes, so that it
 * never straddles a page and its block buffer spans two cache lines at most.
 *
 * Digest text is 64 lower-case hexadecimal characters and a terminator:
 * every text output below must have room for 65 bytes. */
#ifndef QUILLBY_SHA256_H
#define QUILLBY_SHA256_H

#include <stddef.h>
#include <stdint.h>

typedef struct {
    alignas(128) uint32_t state[8]; /* chaining value H0..H7 */
    uint64_t bitlen;     /* message bits in the blocks compressed so far; the
                            whole message length once sha256_final has run */
    uint8_t data[64];    /* the block being filled */
    uint32_t datalen;    /* bytes waiting in data: 0 to 63 between calls */
} sha256_ctx;

void sha256_init(sha256_ctx *ctx);

/* Appends length bytes; with length 0 nothing is read through bytes. */
void sha256_update(sha256_ctx *ctx, const void *bytes, size_t length);

/* Pads, compresses the last block or two and writes the 32-byte digest. */
void sha256_final(sha256_ctx *ctx, uint8_t digest[32]);

/* Renders a 32-byte digest as digest text. */
void sha256_digest_text(const uint8_t digest[32], char text[65]);

/* Digest of a memory buffer, as text. */
void sha256_hex(const void *bytes, size_t length, char text[65]);

/* Digest of a whole file, as text. Returns 1 and leaves text untouched when
 * the file cannot be opened, else 0. A read error counts as the end of the
 * file: the digest then covers the bytes read until it. */
int sha256_file_hex(const char *path, char text[65]);

#endif
