/* The compression function for CPUs with AVX2 and BMI2 but without the SHA
 * extensions: the message schedule of two blocks at once in vector code, and
 * the rounds in scalar code. Only these functions are built for those
 * instructions (per-function target attributes), so the rest of the program
 * runs on any x86-64 CPU. */
#include <immintrin.h>
#include <string.h>

#include "sha256_internal.h"

#define AVX2_TARGET __attribute__((target("avx2,bmi,bmi2")))

/* A big sigma as three independent rotations of x, XORed: RORX leaves its
 * source in place, so they cost no copies. */
AVX2_TARGET static inline uint32_t three_rotations(uint32_t x, unsigned r1, unsigned r2, unsigned r3)
{
    return sha256_rotate_right(x, r1) ^ sha256_rotate_right(x, r2) ^ sha256_rotate_right(x, r3);
}

/* Round i (counted modulo 8) on A..H kept where they stand in v, as in the
 * portable code, but shaped for the chain from one round's E and A to the
 * next one's rather than for the fewest instructions: the rounds of a block
 * are one long chain, and a wide core has integer units to spare beside it.
 * - The new E is D + H + K + W + Ch + big sigma 1, added in that order: all
 *   but Ch and big sigma 1 are ready before E, and big sigma 1 comes last.
 * - The new A is T1 + Maj + big sigma 0, where T1 is the new E less D: Maj
 *   less D goes onto the new E, then big sigma 0, the last of A's terms.
 *   Maj is (B & C) + (A & (B ^ C)), two terms with no bit in common, of
 *   which only the second waits for A; B & C is ANDN of B ^ C and B, and
 *   this round's A ^ B is the next one's B ^ C.
 * The sums are added in the order written (the build keeps GCC from
 * regrouping them in this file). */
AVX2_TARGET static inline void round_step(uint32_t v[8], int i, uint32_t k_plus_w, uint32_t *b_xor_c)
{
    const uint32_t a = v[(8 - i) & 7], b = v[(9 - i) & 7];
    const uint32_t e = v[(12 - i) & 7], f = v[(13 - i) & 7], g = v[(14 - i) & 7];
    uint32_t *d = &v[(11 - i) & 7], *h = &v[(15 - i) & 7];
    const uint32_t choose = (e & f) ^ (~e & g);
    const uint32_t big_sigma1 = three_rotations(e, 6, 11, 25), big_sigma0 = three_rotations(a, 2, 13, 22);
    const uint32_t new_e = (((*d + *h) + k_plus_w) + choose) + big_sigma1;
    const uint32_t majority_less_d = ((~*b_xor_c & b) - *d) + (a & *b_xor_c);
    *d = new_e;
    *h = (majority_less_d + new_e) + big_sigma0;
    *b_xor_c = a ^ b;
}

/* Sigma 0 of each 32-bit word: AVX2 has no vector rotation, so each rotation
 * is two shifts. */
AVX2_TARGET static inline __m256i small_sigma0(__m256i x)
{
    const __m256i rotate7 = _mm256_or_si256(_mm256_srli_epi32(x, 7), _mm256_slli_epi32(x, 25));
    const __m256i rotate18 = _mm256_or_si256(_mm256_srli_epi32(x, 18), _mm256_slli_epi32(x, 14));
    return _mm256_xor_si256(_mm256_xor_si256(rotate7, rotate18), _mm256_srli_epi32(x, 3));
}

/* Sigma 1 of the words each doubled into a 64-bit half ({x, x}): a 64-bit
 * shift right leaves the rotation of x in the low word, so each rotation is
 * one shift. The result is in the low word of each 64-bit half. */
AVX2_TARGET static inline __m256i small_sigma1_of_doubled(__m256i doubled)
{
    const __m256i rotations = _mm256_xor_si256(_mm256_srli_epi64(doubled, 17), _mm256_srli_epi64(doubled, 19));
    return _mm256_xor_si256(rotations, _mm256_srli_epi32(doubled, 10));
}

/* The next four schedule words of both blocks from the last sixteen (w0
 * oldest): W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16]. The words 15
 * and 7 back are w1:w0 and w3:w2 shifted by one word. Of the words 2 back,
 * the first two are w3's last two and the other two are the first two made
 * here, so sigma 1 goes in two halves. */
AVX2_TARGET static inline __m256i next_words(__m256i w0, __m256i w1, __m256i w2, __m256i w3)
{
    /* Words 0 and 2 of each lane to 0 and 1, or to 2 and 3; the rest zero. */
    const __m256i to_low_half = _mm256_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2,
                                                 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i to_high_half = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11, -1, -1,
                                                  -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11);
    const __m256i back15 = _mm256_alignr_epi8(w1, w0, 4), back7 = _mm256_alignr_epi8(w3, w2, 4);
    const __m256i partial = _mm256_add_epi32(_mm256_add_epi32(w0, back7), small_sigma0(back15));
    const __m256i sigma1_low = small_sigma1_of_doubled(_mm256_shuffle_epi32(w3, 0xfa));
    const __m256i low = _mm256_add_epi32(partial, _mm256_shuffle_epi8(sigma1_low, to_low_half));
    const __m256i sigma1_high = small_sigma1_of_doubled(_mm256_shuffle_epi32(low, 0x50));
    return _mm256_add_epi32(low, _mm256_shuffle_epi8(sigma1_high, to_high_half));
}

/* Words 4 * j .. 4 * j + 3 of the first block in the low lane and of the
 * second in the high one, in the CPU's order (each word is big-endian). */
AVX2_TARGET static inline __m256i load_words(const uint8_t *first, const uint8_t *second, int j)
{
    const __m256i byte_swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7,
                                               6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m128i low = _mm_loadu_si128((const __m128i *)(first + 16 * j));
    const __m128i high = _mm_loadu_si128((const __m128i *)(second + 16 * j));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), byte_swap);
}

/* W + K of rounds t..t+3 of both blocks: the low lane's, the first block's,
 * at t in the buffer, and the high lane's, the second block's, at 64 + t. */
AVX2_TARGET static inline void store_k_plus_w(uint32_t *k_plus_w, __m256i w, int t)
{
    const __m256i k = _mm256_broadcastsi128_si256(_mm_load_si128((const __m128i *)(sha256_round_constants + t)));
    const __m256i sum = _mm256_add_epi32(w, k);
    _mm_storeu_si128((__m128i *)(k_plus_w + t), _mm256_castsi256_si128(sum));
    _mm_storeu_si128((__m128i *)(k_plus_w + 64 + t), _mm256_extracti128_si256(sum, 1));
}

/* The schedule moved on by four words, w[0] the oldest of the sixteen it
 * holds, and the W + K of the new ones stored for rounds t..t+3. */
AVX2_TARGET static inline void extend_schedule(__m256i w[4], uint32_t *k_plus_w, int t)
{
    const __m256i next = next_words(w[0], w[1], w[2], w[3]);
    store_k_plus_w(k_plus_w, next, t);
    w[0] = w[1];
    w[1] = w[2];
    w[2] = w[3];
    w[3] = next;
}

/* Rounds t..t+7 of the buffer, the first block's below 64 and the second's
 * from there, fully unrolled so that every index is a constant: eight rounds
 * leave the working variables back in their places. Where w is given, the
 * schedule of both blocks goes on beside them, sixteen rounds ahead: four
 * more words after every four rounds, so that the vector work reaches the
 * core a little at a time rather than as one long chain that fills its
 * queues and holds the rounds back. */
AVX2_TARGET static inline void eight_rounds(uint32_t v[8], uint32_t *b_xor_c, uint32_t *k_plus_w, int t, __m256i w[4])
{
#pragma GCC unroll 8
    for (int j = 0; j < 8; j++) {
        round_step(v, j, k_plus_w[t + j], b_xor_c);
        if (w && j % 4 == 3)
            extend_schedule(w, k_plus_w, t + j + 13);
    }
}

/* Blocks go two at a time, the first of each pair in the low lane: while the
 * first one's rounds run, the vector units compute the rest of both
 * schedules beside them, and the second one's rounds read its W + K ready
 * made. An odd block left at the end goes in both lanes, and only the low
 * lane's rounds run. Blocks are read where they stand, and the last one is
 * copied into data once at the end. */
AVX2_TARGET void sha256_blocks_avx2(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more)
{
    uint32_t k_plus_w[128];
    uint32_t chaining[8];
    memcpy(chaining, state, sizeof chaining);
    for (size_t block = 0; block <= more; block += 2) {
        const uint8_t *first = block == 0 ? data : in + 64 * (block - 1);
        const uint8_t *second = block == more ? first : in + 64 * block;
        __m256i w[4];
        for (int q = 0; q < 4; q++) {
            w[q] = load_words(first, second, q);
            store_k_plus_w(k_plus_w, w[q], 4 * q);
        }
        uint32_t v[8];
        memcpy(v, chaining, sizeof v);
        uint32_t b_xor_c = v[1] ^ v[2];
#pragma GCC unroll 1
        for (int t = 0; t < 48; t += 8)
            eight_rounds(v, &b_xor_c, k_plus_w, t, w);
        /* The rest, with no schedule beside them, in one loop (one copy of
         * eight rounds): the first block's last sixteen, then the second
         * block's, whose W + K follow in the buffer. */
        const int end = block == more ? 64 : 128;
        for (int t = 48;; t += 8) {
            if (t % 64 == 0) {
                for (int i = 0; i < 8; i++)
                    chaining[i] += v[i];
                if (t == end)
                    break;
                memcpy(v, chaining, sizeof v);
                b_xor_c = v[1] ^ v[2];
            }
            eight_rounds(v, &b_xor_c, k_plus_w, t, NULL);
        }
    }
    if (more > 0)
        memcpy(data, in + 64 * (more - 1), 64);
    memcpy(state, chaining, sizeof chaining);
}
