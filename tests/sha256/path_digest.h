// For the tests that drive each compression path whatever this CPU would
// choose: a message's digest text on a chosen path, fed to the engine in the
// given pieces, and the fixture that runs a test once on each path.
#ifndef QUILLBY_PATH_DIGEST_H
#define QUILLBY_PATH_DIGEST_H

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "sha256.h"
#include "sha256_internal.h"

// Each path's name in the tests' names, by path.
inline constexpr const char *PATH_NAMES[SHA256_PATHS] = {"Portable", "ShaExtensions", "Avx2"};

inline std::string path_test_name(const testing::TestParamInfo<int> &info) { return PATH_NAMES[info.param]; }

// A test's parameter is the path it runs on; where this CPU lacks that
// path's instructions, the test is skipped and says so.
class Sha256OnEachPath : public testing::TestWithParam<int> {
  protected:
    void SetUp() override
    {
        if (!sha256_cpu_runs(GetParam()))
            GTEST_SKIP() << "this CPU lacks the instructions of the " << PATH_NAMES[GetParam()]
                         << " path: it was not run";
    }
};

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
