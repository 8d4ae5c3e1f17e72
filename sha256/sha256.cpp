/* The streaming context (FIPS 180-4): buffering, padding and the choice of
 * compression path. */
#include "sha256.h"

#include <string.h>

#include "sha256_internal.h"

static const uint32_t initial_hash[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

/* A local constant set once, on first use, from CPUID: the CPU cannot change
 * under a running process, and every later call reads the same answer. */
int sha256_chosen_path(void)
{
    static const int path = sha256_cpu_runs(SHA256_SHA_EXTENSIONS) ? SHA256_SHA_EXTENSIONS
                            : sha256_cpu_runs(SHA256_AVX2)          ? SHA256_AVX2
                                                                    : SHA256_PORTABLE;
    return path;
}

void sha256_blocks_on(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more, int path)
{
    if (path == SHA256_SHA_EXTENSIONS)
        sha256_blocks_sha_extensions(state, data, in, more);
    else if (path == SHA256_AVX2)
        sha256_blocks_avx2(state, data, in, more);
    else
        sha256_blocks_portable(state, data, in, more);
}

void sha256_init(sha256_ctx *ctx)
{
    memcpy(ctx->state, initial_hash, sizeof initial_hash);
    ctx->bitlen = 0;
    ctx->datalen = 0;
}

/* Leaves the context as byte-at-a-time buffering would: the block that
 * completes data is compressed from there, and so is every later full block
 * after being copied in whole, so data ends holding the last block compressed
 * and then the bytes left over. */
void sha256_update_on(sha256_ctx *ctx, const void *bytes, size_t length, int path)
{
    const uint8_t *in = (const uint8_t *)bytes;
    if (length == 0)
        return;
    size_t room = 64 - ctx->datalen;
    if (length < room) {
        memcpy(ctx->data + ctx->datalen, in, length);
        ctx->datalen += (uint32_t)length;
        return;
    }
    memcpy(ctx->data + ctx->datalen, in, room);
    in += room;
    length -= room;
    size_t more = length / 64;
    sha256_blocks_on(ctx->state, ctx->data, in, more, path);
    ctx->bitlen += 512 * ((uint64_t)more + 1);
    in += 64 * more;
    length -= 64 * more;
    memcpy(ctx->data, in, length);
    ctx->datalen = (uint32_t)length;
}

void sha256_final_on(sha256_ctx *ctx, uint8_t digest[32], int path)
{
    uint32_t n = ctx->datalen;
    ctx->data[n] = 0x80;
    if (n < 56) {
        memset(ctx->data + n + 1, 0, 55 - n);
    } else {
        memset(ctx->data + n + 1, 0, 63 - n);
        sha256_blocks_on(ctx->state, ctx->data, NULL, 0, path);
        memset(ctx->data, 0, 56);
    }
    ctx->bitlen += (uint64_t)n * 8;
    for (int i = 0; i < 8; i++)
        ctx->data[63 - i] = (uint8_t)(ctx->bitlen >> (8 * i));
    sha256_blocks_on(ctx->state, ctx->data, NULL, 0, path);
    for (int i = 0; i < 8; i++) {
        digest[4 * i] = (uint8_t)(ctx->state[i] >> 24);
        digest[4 * i + 1] = (uint8_t)(ctx->state[i] >> 16);
        digest[4 * i + 2] = (uint8_t)(ctx->state[i] >> 8);
        digest[4 * i + 3] = (uint8_t)ctx->state[i];
    }
}

void sha256_update(sha256_ctx *ctx, const void *bytes, size_t length)
{
    sha256_update_on(ctx, bytes, length, sha256_chosen_path());
}

void sha256_final(sha256_ctx *ctx, uint8_t digest[32])
{
    sha256_final_on(ctx, digest, sha256_chosen_path());
}

void sha256_digest_text(const uint8_t digest[32], char text[65])
{
    static const char hex_digits[] = "0123456789abcdef";
    for (int i = 0; i < 32; i++) {
        text[2 * i] = hex_digits[digest[i] >> 4];
        text[2 * i + 1] = hex_digits[digest[i] & 15];
    }
    text[64] = '\0';
}
