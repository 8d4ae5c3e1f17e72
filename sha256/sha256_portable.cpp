/* The compression function in plain integer code: the fallback on CPUs
 * without the SHA extensions and the reference the vector path is tested
 * against. */
#include <string.h>

#include "sha256_internal.h"

static inline uint32_t rotate_right(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

static inline uint32_t load_big_endian(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

/* One round with the working variables named where they stand: only d and h
 * change, so eight calls with the names rotated make eight rounds without
 * moving any value between registers. */
static inline void round_step(uint32_t a, uint32_t b, uint32_t c, uint32_t *d, uint32_t e, uint32_t f,
                              uint32_t g, uint32_t *h, uint32_t k_plus_w)
{
    uint32_t big_sigma1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
    uint32_t choose = g ^ (e & (f ^ g));
    uint32_t t1 = *h + big_sigma1 + choose + k_plus_w;
    uint32_t big_sigma0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
    uint32_t majority = (a & b) | (c & (a | b));
    *d += t1;
    *h = t1 + big_sigma0 + majority;
}

/* Replaces the 16 schedule words with the next 16, in place: each new word
 * needs the words 2, 7, 15 and 16 places back, which the ring still holds. */
static inline void expand_schedule(uint32_t w[16])
{
    for (int j = 0; j < 16; j++) {
        uint32_t x = w[(j + 1) & 15], y = w[(j + 14) & 15];
        uint32_t small_sigma0 = rotate_right(x, 7) ^ rotate_right(x, 18) ^ (x >> 3);
        uint32_t small_sigma1 = rotate_right(y, 17) ^ rotate_right(y, 19) ^ (y >> 10);
        w[j] += small_sigma0 + w[(j + 9) & 15] + small_sigma1;
    }
}

void sha256_blocks_portable(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more)
{
    uint32_t h0 = state[0], h1 = state[1], h2 = state[2], h3 = state[3];
    uint32_t h4 = state[4], h5 = state[5], h6 = state[6], h7 = state[7];
    for (size_t block = 0;; block++) {
        uint32_t w[16];
        for (int j = 0; j < 16; j++)
            w[j] = load_big_endian(data + 4 * j);
        uint32_t a = h0, b = h1, c = h2, d = h3, e = h4, f = h5, g = h6, h = h7;
        const uint32_t *k = sha256_round_constants;
        for (int t = 0; t < 64; t += 16, k += 16) {
            if (t > 0)
                expand_schedule(w);
            for (int j = 0; j < 16; j += 8) {
                round_step(a, b, c, &d, e, f, g, &h, k[j] + w[j]);
                round_step(h, a, b, &c, d, e, f, &g, k[j + 1] + w[j + 1]);
                round_step(g, h, a, &b, c, d, e, &f, k[j + 2] + w[j + 2]);
                round_step(f, g, h, &a, b, c, d, &e, k[j + 3] + w[j + 3]);
                round_step(e, f, g, &h, a, b, c, &d, k[j + 4] + w[j + 4]);
                round_step(d, e, f, &g, h, a, b, &c, k[j + 5] + w[j + 5]);
                round_step(c, d, e, &f, g, h, a, &b, k[j + 6] + w[j + 6]);
                round_step(b, c, d, &e, f, g, h, &a, k[j + 7] + w[j + 7]);
            }
        }
        h0 += a; h1 += b; h2 += c; h3 += d; h4 += e; h5 += f; h6 += g; h7 += h;
        if (block == more)
            break;
        memcpy(data, in + 64 * block, 64);
    }
    state[0] = h0; state[1] = h1; state[2] = h2; state[3] = h3;
    state[4] = h4; state[5] = h5; state[6] = h6; state[7] = h7;
}
