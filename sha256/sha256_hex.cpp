/* One-call digest of a memory buffer, as text. Kept apart from the engine so
 * that a test build can link a deliberately wrong one in its place. */
#include "sha256.h"

void sha256_hex(const void *bytes, size_t length, char text[65])
{
    sha256_ctx ctx;
    uint8_t digest[32];
    sha256_init(&ctx);
    sha256_update(&ctx, bytes, length);
    sha256_final(&ctx, digest);
    sha256_digest_text(digest, text);
}
