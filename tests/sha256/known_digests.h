// Messages with digests published in FIPS 180-4's examples or taken from
// sha256sum, at the lengths where the padding changes shape. A message is a
// piece repeated, so the long ones cost nothing to list.
#ifndef QUILLBY_KNOWN_DIGESTS_H
#define QUILLBY_KNOWN_DIGESTS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

struct known_digest {
    const char *piece;
    size_t repeats;
    const char *digest;
};

static const known_digest KNOWN_DIGESTS[] = {
    {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"The quick brown fox jumps over the lazy dog", 1,
     "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    // One final block, two, and block boundaries crossed.
    {"a", 55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"a", 56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {"a", 63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {"a", 64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"a", 119, "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    {"a", 120, "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
    {"a", 128, "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
};

inline std::vector<uint8_t> known_message(const known_digest &known)
{
    const size_t piece = strlen(known.piece);
    std::vector<uint8_t> message(piece * known.repeats);
    for (size_t i = 0; i < message.size(); i++)
        message[i] = (uint8_t)known.piece[i % piece];
    return message;
}

#endif
