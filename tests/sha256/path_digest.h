// A message's digest text on a chosen compression path, fed to the engine in
// the given pieces: for the tests that drive each path whatever this CPU
// would choose.
#ifndef QUILLBY_PATH_DIGEST_H
#define QUILLBY_PATH_DIGEST_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "sha256_internal.h"

inline std::string digest_text_on(const std::vector<uint8_t> &message, const std::vector<size_t> &chunks, int path)
{
    sha256_ctx ctx;
    uint8_t digest[32];
    char text[65];
    sha256_init(&ctx);
    size_t at = 0;
    for (size_t chunk : chunks) {
        sha256_update_on(&ctx, message.data() + at, chunk, path);
        at += chunk;
    }
    sha256_final_on(&ctx, digest, path);
    sha256_digest_text(digest, text);
    return text;
}

#endif
