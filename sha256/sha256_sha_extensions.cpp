/* The compression function on the x86 SHA extensions. Only these functions
 * are built for the extensions (per-function target attributes), so the rest
 * of the program runs on any x86-64 CPU. */
#include <immintrin.h>
#include <string.h>

#include "sha256_internal.h"

#define SHA_TARGET __attribute__((target("sha,sse4.1")))

/* Four rounds. sha256rnds2 takes the working variables as {A,B,E,F} and
 * {C,D,G,H}, does two rounds with the two low words of its third operand,
 * and returns the new {A,B,E,F}; the old one is then the new {C,D,G,H}, so
 * two calls with the roles swapped leave both names right again. */
SHA_TARGET static inline void four_rounds(__m128i *abef, __m128i *cdgh, __m128i w, const uint32_t *k)
{
    __m128i k_plus_w = _mm_add_epi32(w, _mm_load_si128((const __m128i *)k));
    *cdgh = _mm_sha256rnds2_epu32(*cdgh, *abef, k_plus_w);
    *abef = _mm_sha256rnds2_epu32(*abef, *cdgh, _mm_shuffle_epi32(k_plus_w, 0x0e));
}

/* The next four schedule words from the last sixteen (w0 oldest): msg1 adds
 * sigma0 of the following word to each of w0, the words 7 back are w2 and w3
 * shifted by one, and msg2 adds sigma1 of the words 2 back, the last two of
 * which it computes itself. */
SHA_TARGET static inline __m128i next_words(__m128i w0, __m128i w1, __m128i w2, __m128i w3)
{
    __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
    return _mm_sha256msg2_epu32(partial, w3);
}

SHA_TARGET void sha256_blocks_sha_extensions(uint32_t state[8], uint8_t data[64], const uint8_t *in, size_t more)
{
    /* Each 32-bit word of the block is big-endian. */
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    /* state as {A,B,C,D} {E,F,G,H} to {A,B,E,F} {C,D,G,H}, A and C highest. */
    __m128i dcba = _mm_loadu_si128((const __m128i *)state);
    __m128i hgfe = _mm_loadu_si128((const __m128i *)(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);

    for (size_t block = 0;; block++) {
        const __m128i abef_in = abef, cdgh_in = cdgh;
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)data), byte_swap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(data + 16)), byte_swap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(data + 32)), byte_swap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(data + 48)), byte_swap);
        const uint32_t *k = sha256_round_constants;
        four_rounds(&abef, &cdgh, w0, k);
        four_rounds(&abef, &cdgh, w1, k + 4);
        four_rounds(&abef, &cdgh, w2, k + 8);
        four_rounds(&abef, &cdgh, w3, k + 12);
        for (int t = 16; t < 64; t += 16) {
            w0 = next_words(w0, w1, w2, w3);
            four_rounds(&abef, &cdgh, w0, k + t);
            w1 = next_words(w1, w2, w3, w0);
            four_rounds(&abef, &cdgh, w1, k + t + 4);
            w2 = next_words(w2, w3, w0, w1);
            four_rounds(&abef, &cdgh, w2, k + t + 8);
            w3 = next_words(w3, w0, w1, w2);
            four_rounds(&abef, &cdgh, w3, k + t + 12);
        }
        abef = _mm_add_epi32(abef, abef_in);
        cdgh = _mm_add_epi32(cdgh, cdgh_in);
        if (block == more)
            break;
        memcpy(data, in + 64 * block, 64);
    }

    /* Back to {A,B,C,D} {E,F,G,H}. */
    __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128((__m128i *)state, _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128((__m128i *)(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
