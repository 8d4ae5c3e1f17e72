// The engine against the host's OpenSSL on random messages of every length
// up to a few blocks and beyond, fed in random pieces.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "test_data.h"

namespace {

std::string openssl_hex(const std::vector<uint8_t> &message)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(message.data(), message.size(), digest, &length, EVP_sha256(), NULL);
    char text[65];
    sha256_digest_text(digest, text);
    return text;
}

TEST(Sha256AgainstOpenssl, EveryShortLengthAndRandomLongOnes)
{
    uint64_t seed = 42;
    for (size_t length = 0; length < 1200; length++) {
        std::vector<uint8_t> message = pseudo_random_bytes(length, length + 1);
        char text[65];
        sha256_hex(message.data(), message.size(), text);
        ASSERT_EQ(std::string(text), openssl_hex(message)) << "length " << length;
    }
    for (int round = 0; round < 30; round++) {
        std::vector<uint8_t> message = pseudo_random_bytes(next_random(&seed) % (1 << 20), round);
        sha256_ctx ctx;
        uint8_t digest[32];
        char text[65];
        sha256_init(&ctx);
        size_t at = 0;
        while (at < message.size()) {
            size_t chunk = next_random(&seed) % 5000;
            if (chunk > message.size() - at)
                chunk = message.size() - at;
            sha256_update(&ctx, message.data() + at, chunk);
            at += chunk;
        }
        sha256_final(&ctx, digest);
        sha256_digest_text(digest, text);
        ASSERT_EQ(std::string(text), openssl_hex(message)) << "round " << round;
    }
}

}  // namespace
