// Each compression path this CPU runs against the host's OpenSSL on random
// messages of every length up to a few blocks and beyond, fed in random
// pieces.
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

class Sha256AgainstOpenssl : public Sha256OnEachPath {};

TEST_P(Sha256AgainstOpenssl, EveryShortLengthAndRandomLongOnes)
{
    uint64_t seed = 42;
    for (size_t length = 0; length < 1200; length++) {
        std::vector<uint8_t> message = pseudo_random_bytes(length, length + 1);
        ASSERT_EQ(digest_text_on(message, {length}, GetParam()), openssl_hex(message)) << "length " << length;
    }
    for (int round = 0; round < 30; round++) {
        std::vector<uint8_t> message = pseudo_random_bytes(next_random(&seed) % (1 << 20), round);
        ASSERT_EQ(digest_text_on(message, random_splits(message.size(), 5000, &seed), GetParam()), openssl_hex(message))
            << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Sha256AgainstOpenssl, testing::Range(0, (int)SHA256_PATHS), path_test_name);

}  // namespace
