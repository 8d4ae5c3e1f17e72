/* The compression function in plain integer code: the fallback on CPUs with
 * neither the SHA extensions nor AVX2 and BMI2, and the reference the vector
 * paths are tested against. */
#include <string.h>

#include "sha256_internal.h"

static inline uint32_t load_big_endian(const uint8_t *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

/* Round i (counted modulo 8) on the working variables A..H kept where they
 * stand in v: A of round i is v[-i mod 8], and only the slots of D and H are
 * written, so no value moves between registers once the rounds are unrolled.
 * Each big sigma is three rotations nested, fewer instructions than three
 * rotations of one word. The majority is B where A and B agree and C
 * elsewhere, from A ^ B and B ^ C; this round's A ^ B is the next one's
 * B ^ C. */
static inline void round_step(uint32_t v[8], int i, uint32_t k_plus_w, uint32_t *b_xor_c)
{
    const uint32_t a = v[(8 - i) & 7], b = v[(9 - i) & 7];
    const uint32_t e = v[(12 - i) & 7], f = v[(13 - i) & 7], g = v[(14 - i) & 7];
    uint32_t *d = &v[(11 - i) & 7], *h = &v[(15 - i) & 7];
    uint32_t big_sigma1 = sha256_rotate_right(e ^ sha256_rotate_right(e ^ sha256_rotate_right(e, 14), 5), 6);
    uint32_t choose = g ^ (e & (f ^ g));
    uint32_t t1 = *h + big_sigma1 + choose + k_plus_w;
    uint32_t big_sigma0 = sha256_rotate_right(a ^ sha256_rotate_right(a ^ sha256_rotate_right(a, 9), 11), 2);
    uint32_t a_xor_b = a ^ b;
    uint32_t majority = b ^ (a_xor_b & *b_xor_c);
    *b_xor_c = a_xor_b;
    *d += t1;
    *h = t1 + big_sigma0 + majority;
}

/* The schedule word for round 16 + j of the current sixteen, in place of the
 * one 16 rounds back: it needs the words 2, 7, 15 and 16 back, which the ring
 * still holds. */
static inline uint32_t next_word(uint32_t w[16], int j)
{
    const uint32_t x = w[(j + 1) & 15], y = w[(j + 14) & 15];
    const uint32_t small_sigma0 = sha256_rotate_right(x, 7) ^ sha256_rotate_right(x, 18) ^ (x >> 3);
    const uint32_t small_sigma1 = sha256_rotate_right(y, 17) ^ sha256_rotate_right(y, 19) ^ (y >> 10);
    w[j] += small_sigma0 + w[(j + 9) & 15] + small_sigma1;
    return w[j];
}

/* Sixteen rounds, fully unrolled so that every index above is a constant;
 * after the first sixteen each round first extends the schedule, which keeps
 * that work beside the rounds that hide its latency. */
static inline void sixteen_rounds(uint32_t v[8], uint32_t *b_xor_c, uint32_t w[16], const uint32_t *k, int extend)
{
#pragma GCC unroll 16
    for (int j = 0; j < 16; j++)
        round_step(v, j, k[j] + (extend ? next_word(w, j) : w[j]), b_xor_c);
}

void sha256_blocks_portable(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more)
{
    uint32_t chaining[8];
    memcpy(chaining, state, sizeof chaining);
    for (size_t block = 0;; block++) {
        uint32_t w[16], v[8];
        for (int j = 0; j < 16; j++)
            w[j] = load_big_endian(data + 4 * j);
        memcpy(v, chaining, sizeof v);
        uint32_t b_xor_c = v[1] ^ v[2];
        sixteen_rounds(v, &b_xor_c, w, sha256_round_constants, 0);
        for (int t = 16; t < 64; t += 16)
            sixteen_rounds(v, &b_xor_c, w, sha256_round_constants + t, 1);
        for (int i = 0; i < 8; i++)
            chaining[i] += v[i];
        if (block == more)
            break;
        memcpy(data, in + 64 * block, 64);
    }
    memcpy(state, chaining, sizeof chaining);
}
