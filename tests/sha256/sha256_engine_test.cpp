// The SHA-256 engine as the program uses it, on the path this CPU takes:
// published digests, arbitrary splits of the input, the context's alignment,
// digest text and files. Runs on the host (under sanitizers) and as a Windows
// program; sha256_paths_test.cpp holds each path's own tests.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "known_digests.h"
#include "path_digest.h"
#include "sha256_internal.h"
#include "test_data.h"

namespace {

std::string hex_of(const void *bytes, size_t length)
{
    char text[65];
    sha256_hex(bytes, length, text);
    return text;
}

TEST(Sha256Vectors, KnownMessagesWholeAndByteAtATime)
{
    for (const known_digest &known : KNOWN_DIGESTS) {
        const std::vector<uint8_t> message = known_message(known);
        EXPECT_EQ(hex_of(message.data(), message.size()), known.digest) << "length " << message.size();
        std::vector<size_t> byte_at_a_time(message.size(), 1);
        EXPECT_EQ(digest_text_on(message, byte_at_a_time, sha256_chosen_path()), known.digest)
            << "length " << message.size();
    }
}

TEST(Sha256Stream, AnySplitGivesTheOneCallDigest)
{
    const std::vector<uint8_t> message = pseudo_random_bytes(3 * 1024 * 1024 + 17, 1);
    const std::string whole = hex_of(message.data(), message.size());
    uint64_t seed = 7;
    for (int round = 0; round < 40; round++)
        ASSERT_EQ(digest_text_on(message, random_splits(message.size(), 70000, &seed), sha256_chosen_path()), whole)
            << "round " << round;
}

// The context is aligned so that it never straddles a page: on the stack
// (which MinGW has to realign for it) as in a heap array.
TEST(Sha256Context, NeverStraddlesAPage)
{
    static_assert(sizeof(sha256_ctx) <= alignof(sha256_ctx), "a context could straddle a page");
    static_assert(4096 % alignof(sha256_ctx) == 0, "a context could straddle a page");
    sha256_ctx on_stack;
    EXPECT_EQ((uintptr_t)&on_stack % alignof(sha256_ctx), 0u);
    std::vector<sha256_ctx> on_heap(3);
    for (const sha256_ctx &ctx : on_heap)
        EXPECT_EQ((uintptr_t)&ctx % alignof(sha256_ctx), 0u);
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

    // Longer than one read, not a multiple of it, holding CR LF pairs and a
    // ^Z that a text-mode read would alter.
    std::vector<uint8_t> content = pseudo_random_bytes(3 * SHA256_FILE_READ_SIZE + 5, 9);
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
