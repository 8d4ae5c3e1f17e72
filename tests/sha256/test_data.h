// Reproducible pseudo-random test data (xorshift64*), the same on every host,
// and random ways to cut a message into update calls.
#ifndef QUILLBY_TEST_DATA_H
#define QUILLBY_TEST_DATA_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

inline uint64_t next_random(uint64_t *seed)
{
    uint64_t x = *seed ? *seed : 0x9e3779b97f4a7c15ull;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *seed = x;
    return x * 0x2545f4914f6cdd1dull;
}

inline std::vector<uint8_t> pseudo_random_bytes(size_t length, uint64_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++)
        bytes[i] = (uint8_t)(next_random(&seed) >> 56);
    return bytes;
}

// Piece lengths summing to total: mostly small and odd, with empty updates
// and runs of many blocks mixed in, up to longest bytes.
inline std::vector<size_t> random_splits(size_t total, size_t longest, uint64_t *seed)
{
    std::vector<size_t> chunks;
    size_t left = total;
    while (left > 0) {
        uint64_t r = next_random(seed);
        size_t chunk = r % 4 == 0 ? next_random(seed) % (longest + 1) : r % 130;
        if (chunk > left)
            chunk = left;
        chunks.push_back(chunk);
        left -= chunk;
    }
    return chunks;
}

#endif
