// The SHA-256 engine against published digests, at the lengths where padding
// changes shape, across arbitrary splits of the input, and in its context
// contract. Runs on the host (under sanitizers) and as a Windows program.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "test_data.h"

namespace {

std::string hex_of(const void *bytes, size_t length)
{
    char text[65];
    sha256_hex(bytes, length, text);
    return text;
}

std::string hex_in_chunks(const std::vector<uint8_t> &message, const std::vector<size_t> &chunks)
{
    sha256_ctx ctx;
    uint8_t digest[32];
    char text[65];
    sha256_init(&ctx);
    size_t at = 0;
    for (size_t chunk : chunks) {
        sha256_update(&ctx, message.data() + at, chunk);
        at += chunk;
    }
    sha256_final(&ctx, digest);
    sha256_digest_text(digest, text);
    return text;
}

TEST(Sha256Vectors, PublishedMessages)
{
    EXPECT_EQ(hex_of("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex_of("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_of("The quick brown fox jumps over the lazy dog", 43),
              "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592");
    const char two_blocks[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(hex_of(two_blocks, strlen(two_blocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    std::vector<uint8_t> million_a(1000000, 'a');
    EXPECT_EQ(hex_of(million_a.data(), million_a.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Digests from sha256sum: lengths where the padding needs one final block,
// needs two, or where a block boundary is crossed.
TEST(Sha256Vectors, PaddingBoundaries)
{
    struct { size_t length; const char *digest; } cases[] = {
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {128, "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> message(c.length, 'a');
        EXPECT_EQ(hex_of(message.data(), message.size()), c.digest) << "length " << c.length;
        std::vector<size_t> byte_at_a_time(c.length, 1);
        EXPECT_EQ(hex_in_chunks(message, byte_at_a_time), c.digest) << "length " << c.length;
    }
}

TEST(Sha256Stream, AnySplitGivesTheOneCallDigest)
{
    const std::vector<uint8_t> message = pseudo_random_bytes(3 * 1024 * 1024 + 17, 1);
    const std::string whole = hex_of(message.data(), message.size());
    uint64_t seed = 7;
    for (int round = 0; round < 40; round++) {
        std::vector<size_t> chunks;
        size_t left = message.size();
        // Mostly small and odd pieces, with empty updates and large runs mixed in.
        while (left > 0) {
            uint64_t r = next_random(&seed);
            size_t chunk = r % 4 == 0 ? r % 70000 : r % 130;
            if (chunk > left)
                chunk = left;
            chunks.push_back(chunk);
            left -= chunk;
        }
        ASSERT_EQ(hex_in_chunks(message, chunks), whole) << "round " << round;
    }
}

TEST(Sha256Stream, ContextMatchesByteAtATimeAfterEveryCall)
{
    const std::vector<uint8_t> message = pseudo_random_bytes(5000, 3);
    sha256_ctx runs, bytes;
    memset(&runs, 0x5a, sizeof runs);
    memset(&bytes, 0x5a, sizeof bytes);
    sha256_init(&runs);
    sha256_init(&bytes);
    uint64_t seed = 11;
    size_t at = 0;
    while (at < message.size()) {
        size_t chunk = next_random(&seed) % 200;
        if (chunk > message.size() - at)
            chunk = message.size() - at;
        sha256_update(&runs, message.data() + at, chunk);
        for (size_t i = 0; i < chunk; i++)
            sha256_update(&bytes, message.data() + at + i, 1);
        at += chunk;
        ASSERT_EQ(memcmp(runs.state, bytes.state, sizeof runs.state), 0) << "at " << at;
        ASSERT_EQ(runs.bitlen, bytes.bitlen);
        ASSERT_EQ(runs.datalen, bytes.datalen);
        ASSERT_EQ(runs.bitlen, (uint64_t)(at - at % 64) * 8);
        ASSERT_EQ(runs.datalen, at % 64);
        ASSERT_EQ(memcmp(runs.data, bytes.data, sizeof runs.data), 0);
    }
}

TEST(Sha256Stream, EmptyUpdateReadsNothing)
{
    sha256_ctx ctx;
    uint8_t digest[32];
    char text[65];
    sha256_init(&ctx);
    sha256_update(&ctx, "ab", 2);
    sha256_update(&ctx, NULL, 0);
    sha256_update(&ctx, "c", 1);
    sha256_final(&ctx, digest);
    sha256_digest_text(digest, text);
    EXPECT_STREQ(text, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    sha256_hex(NULL, 0, text);
    EXPECT_STREQ(text, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256Final, LeavesTheContextAsDocumented)
{
    sha256_ctx ctx;
    uint8_t first[32], second[32];
    sha256_init(&ctx);
    sha256_update(&ctx, "abc", 3);
    sha256_final(&ctx, first);
    EXPECT_EQ(ctx.bitlen, 24u);
    EXPECT_EQ(ctx.datalen, 3u);
    EXPECT_EQ(memcmp(ctx.data, "abc\x80", 4), 0);
    EXPECT_EQ(ctx.data[63], 24);
    for (uint32_t i = 0; i < 8; i++) {
        uint32_t word = (uint32_t)first[4 * i] << 24 | (uint32_t)first[4 * i + 1] << 16 |
                        (uint32_t)first[4 * i + 2] << 8 | first[4 * i + 3];
        EXPECT_EQ(ctx.state[i], word) << "word " << i;
    }
    sha256_final(&ctx, second);
    EXPECT_NE(memcmp(first, second, 32), 0);

    // 56 to 63 bytes waiting: the length goes into a second padding block.
    std::vector<uint8_t> message(60, 'a');
    sha256_init(&ctx);
    sha256_update(&ctx, message.data(), message.size());
    sha256_final(&ctx, first);
    EXPECT_EQ(ctx.bitlen, 480u);
    EXPECT_EQ(ctx.datalen, 60u);
    for (int i = 0; i < 56; i++)
        ASSERT_EQ(ctx.data[i], 0) << "byte " << i;

    sha256_init(&ctx);
    EXPECT_EQ(ctx.bitlen, 0u);
    EXPECT_EQ(ctx.datalen, 0u);
}

TEST(Sha256Text, IsLowerCaseHexOfFixedLength)
{
    uint64_t seed = 5;
    for (int i = 0; i < 200; i++) {
        std::vector<uint8_t> message = pseudo_random_bytes(next_random(&seed) % 300, i);
        char text[66];
        text[65] = '#';
        sha256_hex(message.data(), message.size(), text);
        ASSERT_EQ(strlen(text), 64u);
        ASSERT_EQ(text[65], '#');
        ASSERT_EQ(strspn(text, "0123456789abcdef"), 64u) << text;
    }
}

TEST(Sha256File, MissingEmptyAndMultiRead)
{
    const char *missing = "sha256_file_test_missing.bin";
    remove(missing);
    char text[65];
    memset(text, 'X', sizeof text);
    EXPECT_EQ(sha256_file_hex(missing, text), 1);
    for (char c : text)
        ASSERT_EQ(c, 'X');

    const char *path = "sha256_file_test.bin";
    FILE *file = fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_EQ(sha256_file_hex(path, text), 0);
    EXPECT_STREQ(text, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    // Longer than one 8192-byte read, not a multiple of it, holding CR LF
    // pairs and a ^Z that a text-mode read would alter.
    std::vector<uint8_t> content = pseudo_random_bytes(3 * 8192 + 5, 9);
    memcpy(content.data() + 100, "\r\n\x1a\r\n", 5);
    file = fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(content.data(), 1, content.size(), file), content.size());
    fclose(file);
    EXPECT_EQ(sha256_file_hex(path, text), 0);
    EXPECT_EQ(std::string(text), hex_of(content.data(), content.size()));
    remove(path);
}

}  // namespace
