// Each compression path on its own, whatever this CPU would choose: every
// path this CPU runs, the others skipped. Known digests, random data cut at
// random, the context after every call, and the multi-block compressors
// against each other from random chaining values.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "known_digests.h"
#include "path_digest.h"
#include "sha256.h"
#include "sha256_internal.h"
#include "test_data.h"

namespace {

// A context whose bytes sha256_init does not set are all the same, so that
// two of them compare whole.
void fresh_context(sha256_ctx *ctx)
{
    memset(ctx, 0x5a, sizeof *ctx);
    sha256_init(ctx);
}

bool same_context(const sha256_ctx &one, const sha256_ctx &other)
{
    return memcmp(one.state, other.state, sizeof one.state) == 0 && one.bitlen == other.bitlen &&
           one.datalen == other.datalen && memcmp(one.data, other.data, sizeof one.data) == 0;
}

void expect_known_digests(int path)
{
    uint64_t seed = 3;
    for (const known_digest &known : KNOWN_DIGESTS) {
        const std::vector<uint8_t> message = known_message(known);
        const size_t length = message.size();
        EXPECT_EQ(digest_text_on(message, {length}, path), known.digest) << "whole, length " << length;
        EXPECT_EQ(digest_text_on(message, std::vector<size_t>(length, 1), path), known.digest)
            << "byte at a time, length " << length;
        for (int round = 0; round < 5; round++)
            EXPECT_EQ(digest_text_on(message, random_splits(length, 5000, &seed), path), known.digest)
                << "random split " << round << ", length " << length;
    }
}

void expect_context_as_byte_at_a_time(int path)
{
    const std::vector<uint8_t> message = pseudo_random_bytes(20000, 3);
    sha256_ctx runs, bytes;
    fresh_context(&runs);
    fresh_context(&bytes);
    uint64_t seed = 11;
    size_t at = 0;
    for (size_t chunk : random_splits(message.size(), 1000, &seed)) {
        sha256_update_on(&runs, message.data() + at, chunk, path);
        for (size_t i = 0; i < chunk; i++)
            sha256_update_on(&bytes, message.data() + at + i, 1, path);
        at += chunk;
        ASSERT_TRUE(same_context(runs, bytes)) << "at " << at;
        ASSERT_EQ(runs.bitlen, (uint64_t)(at - at % 64) * 8);
        ASSERT_EQ(runs.datalen, at % 64);
    }
}

void expect_final_context_as_documented(int path)
{
    sha256_ctx ctx;
    uint8_t first[32], second[32];
    sha256_init(&ctx);
    sha256_update_on(&ctx, "abc", 3, path);
    sha256_final_on(&ctx, first, path);
    EXPECT_EQ(ctx.bitlen, 24u);
    EXPECT_EQ(ctx.datalen, 3u);
    EXPECT_EQ(memcmp(ctx.data, "abc\x80", 4), 0);
    EXPECT_EQ(ctx.data[63], 24);
    for (uint32_t i = 0; i < 8; i++) {
        uint32_t word = (uint32_t)first[4 * i] << 24 | (uint32_t)first[4 * i + 1] << 16 |
                        (uint32_t)first[4 * i + 2] << 8 | first[4 * i + 3];
        EXPECT_EQ(ctx.state[i], word) << "word " << i;
    }
    sha256_final_on(&ctx, second, path);
    EXPECT_NE(memcmp(first, second, 32), 0);

    // 56 to 63 bytes waiting: the length goes into a second padding block.
    std::vector<uint8_t> message(60, 'a');
    sha256_init(&ctx);
    sha256_update_on(&ctx, message.data(), message.size(), path);
    sha256_final_on(&ctx, first, path);
    EXPECT_EQ(ctx.bitlen, 480u);
    EXPECT_EQ(ctx.datalen, 60u);
    for (int i = 0; i < 56; i++)
        ASSERT_EQ(ctx.data[i], 0) << "byte " << i;
}

// One call over many blocks against one call per block, from chaining values
// that are not the initial ones, leaving the input as it was and data as the
// last block.
void expect_blocks_as_one_at_a_time(int path)
{
    uint64_t seed = 17;
    for (int round = 0; round < 50; round++) {
        const size_t more = next_random(&seed) % 40;
        const std::vector<uint8_t> first = pseudo_random_bytes(64, 2 * round + 1);
        const std::vector<uint8_t> in = pseudo_random_bytes(64 * more, 2 * round + 2);
        const std::vector<uint8_t> in_before = in;
        uint32_t together[8], apart[8];
        for (int i = 0; i < 8; i++)
            together[i] = apart[i] = (uint32_t)next_random(&seed);
        uint8_t data_together[64], data_apart[64];
        memcpy(data_together, first.data(), 64);
        memcpy(data_apart, first.data(), 64);
        sha256_blocks_on(together, data_together, in.data(), more, path);
        sha256_blocks_on(apart, data_apart, NULL, 0, path);
        for (size_t block = 0; block < more; block++) {
            memcpy(data_apart, in.data() + 64 * block, 64);
            sha256_blocks_on(apart, data_apart, NULL, 0, path);
        }
        ASSERT_EQ(memcmp(together, apart, sizeof together), 0) << "round " << round;
        ASSERT_EQ(memcmp(data_together, more ? in.data() + 64 * (more - 1) : first.data(), 64), 0);
        ASSERT_EQ(in, in_before);
    }
}

class Sha256Path : public Sha256OnEachPath {};

TEST_P(Sha256Path, KnownDigestsWholeByteAtATimeAndSplit) { expect_known_digests(GetParam()); }
TEST_P(Sha256Path, ContextAsByteAtATimeAfterEveryCall) { expect_context_as_byte_at_a_time(GetParam()); }
TEST_P(Sha256Path, FinalLeavesTheContextAsDocumented) { expect_final_context_as_documented(GetParam()); }
TEST_P(Sha256Path, ManyBlocksAsOneAtATime) { expect_blocks_as_one_at_a_time(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Each, Sha256Path, testing::Range(0, (int)SHA256_PATHS), path_test_name);

// The vector paths against the portable one, the reference.
class Sha256VectorPath : public Sha256OnEachPath {};

// Random chaining values and runs of blocks, odd and even in number: every
// word of the state in and out, so that a word misplaced between layouts or
// lanes shows, and the block left in data.
TEST_P(Sha256VectorPath, CompressesAsThePortablePath)
{
    uint64_t seed = 23;
    for (int round = 0; round < 200; round++) {
        const size_t more = next_random(&seed) % 8;
        const std::vector<uint8_t> in = pseudo_random_bytes(64 * (more + 1), round);
        uint32_t vector_state[8], portable_state[8];
        for (int i = 0; i < 8; i++)
            vector_state[i] = portable_state[i] = (uint32_t)next_random(&seed);
        uint8_t vector_data[64], portable_data[64];
        memcpy(vector_data, in.data(), 64);
        memcpy(portable_data, in.data(), 64);
        sha256_blocks_on(vector_state, vector_data, in.data() + 64, more, GetParam());
        sha256_blocks_portable(portable_state, portable_data, in.data() + 64, more);
        ASSERT_EQ(memcmp(vector_state, portable_state, sizeof vector_state), 0) << "round " << round;
        ASSERT_EQ(memcmp(vector_data, portable_data, 64), 0) << "round " << round;
    }
}

// Both paths fed the same random pieces of random data: the same context
// after every call and the same digest.
TEST_P(Sha256VectorPath, StreamsAsThePortablePath)
{
    uint64_t seed = 29;
    for (int round = 0; round < 20; round++) {
        const std::vector<uint8_t> message = pseudo_random_bytes(next_random(&seed) % 300000, round);
        sha256_ctx vector, portable;
        fresh_context(&vector);
        fresh_context(&portable);
        size_t at = 0;
        for (size_t chunk : random_splits(message.size(), 70000, &seed)) {
            sha256_update_on(&vector, message.data() + at, chunk, GetParam());
            sha256_update_on(&portable, message.data() + at, chunk, SHA256_PORTABLE);
            at += chunk;
            ASSERT_TRUE(same_context(vector, portable)) << "round " << round << " at " << at;
        }
        uint8_t vector_digest[32], portable_digest[32];
        sha256_final_on(&vector, vector_digest, GetParam());
        sha256_final_on(&portable, portable_digest, SHA256_PORTABLE);
        ASSERT_EQ(memcmp(vector_digest, portable_digest, 32), 0) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Sha256VectorPath, testing::Values((int)SHA256_SHA_EXTENSIONS, (int)SHA256_AVX2),
                         path_test_name);

// The SHA extensions where this CPU has them, else AVX2, else the portable
// code: the fastest path this CPU runs.
TEST(Sha256Dispatch, PublicCallsTakeTheFastestPathThisCpuRuns)
{
    const int fastest = sha256_cpu_runs(SHA256_SHA_EXTENSIONS) ? SHA256_SHA_EXTENSIONS
                        : sha256_cpu_runs(SHA256_AVX2)          ? SHA256_AVX2
                                                                : SHA256_PORTABLE;
    EXPECT_EQ(sha256_chosen_path(), fastest);
}

}  // namespace
