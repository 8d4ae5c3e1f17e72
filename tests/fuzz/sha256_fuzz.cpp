// libFuzzer target for the SHA-256 engine: the input's first eight bytes
// seed where the rest is split into updates, and the digest on every
// compression path this CPU runs must equal OpenSSL's for the same message
// whatever the splits; the one-call digest must agree too. A mismatch
// aborts, which libFuzzer reports as a crash.
#include <openssl/evp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "sha256.h"
#include "sha256_internal.h"

static uint64_t next_split(uint64_t *seed)
{
    *seed = *seed * 6364136223846793005ull + 1442695040888963407ull;
    return *seed >> 33;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    uint64_t first_seed;
    memcpy(&first_seed, data, 8);
    const uint8_t *message = data + 8;
    const size_t length = size - 8;

    uint8_t reference[EVP_MAX_MD_SIZE];
    unsigned int reference_length = 0;
    EVP_Digest(message, length, reference, &reference_length, EVP_sha256(), NULL);

    for (int path = 0; path < SHA256_PATHS; path++) {
        if (!sha256_cpu_runs(path))
            continue;
        uint64_t seed = first_seed;
        sha256_ctx ctx;
        uint8_t digest[32];
        sha256_init(&ctx);
        for (size_t at = 0; at < length;) {
            // Mostly pieces around one block, sometimes empty, sometimes long.
            size_t piece = next_split(&seed) % 4 == 0 ? next_split(&seed) % 1000 : next_split(&seed) % 130;
            if (piece > length - at)
                piece = length - at;
            sha256_update_on(&ctx, message + at, piece, path);
            at += piece;
        }
        sha256_final_on(&ctx, digest, path);
        if (reference_length != 32 || memcmp(digest, reference, 32) != 0)
            abort();
    }

    char text[65], reference_text[65];
    sha256_hex(message, length, text);
    sha256_digest_text(reference, reference_text);
    if (strcmp(text, reference_text) != 0)
        abort();
    return 0;
}
