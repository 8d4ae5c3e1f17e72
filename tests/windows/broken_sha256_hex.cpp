// A sha256_hex that is wrong for "abc" only, linked in place of the engine's
// own to show that the self-test reports a single failing vector in full.
#include <string.h>

#include "sha256.h"

void sha256_hex(const void *bytes, size_t length, char text[65])
{
    sha256_ctx ctx;
    uint8_t digest[32];
    sha256_init(&ctx);
    sha256_update(&ctx, bytes, length);
    sha256_final(&ctx, digest);
    if (length == 3 && memcmp(bytes, "abc", 3) == 0)
        digest[31] ^= 1;
    sha256_digest_text(digest, text);
}
