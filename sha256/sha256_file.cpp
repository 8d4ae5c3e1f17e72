/* One-call digest of a whole file, as text. */
#include "sha256.h"

#include <stdio.h>

#include "sha256_internal.h"

int sha256_file_hex(const char *path, char text[65])
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return 1;
    sha256_ctx ctx;
    uint8_t buffer[SHA256_FILE_READ_SIZE];
    uint8_t digest[32];
    size_t got;
    sha256_init(&ctx);
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        sha256_update(&ctx, buffer, got);
    fclose(file);
    sha256_final(&ctx, digest);
    sha256_digest_text(digest, text);
    return 0;
}
