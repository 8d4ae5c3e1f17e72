// Each compression path against the host's OpenSSL on random messages of
// every length up to a few blocks and beyond, fed in random pieces.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "path_digest.h"
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

void expect_as_openssl(int path)
{
    uint64_t seed = 42;
    for (size_t length = 0; length < 1200; length++) {
        std::vector<uint8_t> message = pseudo_random_bytes(length, length + 1);
        ASSERT_EQ(digest_text_on(message, {length}, path), openssl_hex(message)) << "length " << length;
    }
    for (int round = 0; round < 30; round++) {
        std::vector<uint8_t> message = pseudo_random_bytes(next_random(&seed) % (1 << 20), round);
        ASSERT_EQ(digest_text_on(message, random_splits(message.size(), 5000, &seed), path), openssl_hex(message))
            << "round " << round;
    }
}

TEST(Sha256AgainstOpenssl, PortableEveryShortLengthAndRandomLongOnes) { expect_as_openssl(SHA256_PORTABLE); }

TEST(Sha256AgainstOpenssl, ShaExtensionsEveryShortLengthAndRandomLongOnes)
{
    if (!sha256_cpu_has_sha_extensions())
        GTEST_SKIP() << "this CPU lacks the SHA extensions: only the portable path was compared";
    expect_as_openssl(SHA256_SHA_EXTENSIONS);
}

}  // namespace
