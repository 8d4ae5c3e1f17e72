/* Raw DEFLATE decompression (RFC 1951).
 * Huffman codes are decoded one bit at a time, straight from RFC 1951's
 * description of canonical codes: slower than zlib's tables, but a few hundred
 * bytes of code in a program with a size budget, and short enough to check
 * against the RFC by eye. */
#include "zip/inflate.h"

#include <string.h>

enum {
    MAX_CODE_BITS = 15,
    LITERAL_SYMBOLS = 288,     /* the fixed code defines 288; 286 and 287 never occur */
    USED_LITERAL_SYMBOLS = 286,
    LENGTH_SYMBOLS = 29,
    DISTANCE_SYMBOLS = 30,
    FIXED_DISTANCE_SYMBOLS = 32, /* the fixed code defines 32; 30 and 31 never occur */
    CODE_LENGTH_SYMBOLS = 19,
    END_OF_BLOCK = 256
};

static const unsigned short LENGTH_BASE[LENGTH_SYMBOLS] = {3,  4,  5,  6,  7,  8,  9,   10,  11,  13,
                                                           15, 17, 19, 23, 27, 31, 35,  43,  51,  59,
                                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
static const unsigned char LENGTH_EXTRA[LENGTH_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const unsigned short DISTANCE_BASE[DISTANCE_SYMBOLS] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const unsigned char DISTANCE_EXTRA[DISTANCE_SYMBOLS] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,
                                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const unsigned char CODE_LENGTH_ORDER[CODE_LENGTH_SYMBOLS] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

struct inflate_stream {
    const unsigned char *in;
    size_t in_length;
    size_t in_position;
    unsigned long bits; /* bits fetched from in but not yet consumed, least significant first */
    int bit_count;
    int failed; /* set once the input ran out, so loops stop instead of reading zeros */
    unsigned char *out;
    size_t out_capacity;
    size_t out_length;
};

/* A canonical Huffman code: how many codes have each length, and the symbols
 * in code order, which is all that canonical codes need for decoding. */
struct huffman_code {
    short count[MAX_CODE_BITS + 1];
    short symbol[LITERAL_SYMBOLS];
};

static unsigned read_bits(inflate_stream *stream, int count)
{
    while (stream->bit_count < count) {
        if (stream->in_position == stream->in_length) {
            stream->failed = 1;
            return 0;
        }
        stream->bits |= (unsigned long)stream->in[stream->in_position++] << stream->bit_count;
        stream->bit_count += 8;
    }
    unsigned value = (unsigned)(stream->bits & ((1UL << count) - 1));
    stream->bits >>= count;
    stream->bit_count -= count;
    return value;
}

/* Refuses, as zlib does, an over-subscribed code, and an incomplete one unless
 * it has no codes at all (caught when a stream uses it) or, where lone_allowed,
 * a single code of one bit (a block whose copies all share one distance). */
static int build_code(huffman_code *code, const unsigned char *lengths, int symbol_count, int lone_allowed)
{
    short offset[MAX_CODE_BITS + 1];
    memset(code->count, 0, sizeof code->count);
    for (int symbol = 0; symbol < symbol_count; symbol++)
        code->count[lengths[symbol]]++;
    int left = 1;
    for (int length = 1; length <= MAX_CODE_BITS; length++) {
        left = left * 2 - code->count[length];
        if (left < 0)
            return 1;
    }
    int used = symbol_count - code->count[0];
    if (left > 0 && used > 0 && !(lone_allowed && used == 1 && code->count[1] == 1))
        return 1;
    offset[1] = 0;
    for (int length = 1; length < MAX_CODE_BITS; length++)
        offset[length + 1] = (short)(offset[length] + code->count[length]);
    for (int symbol = 0; symbol < symbol_count; symbol++)
        if (lengths[symbol] != 0)
            code->symbol[offset[lengths[symbol]]++] = (short)symbol;
    return 0;
}

/* Returns the next symbol, or -1 when the input ends or no code matches. */
static int decode_symbol(inflate_stream *stream, const huffman_code *code)
{
    int value = 0; /* the bits read so far, first bit most significant */
    int first = 0; /* the first code of the current length */
    int index = 0; /* where the symbols of the current length start */
    for (int length = 1; length <= MAX_CODE_BITS; length++) {
        value |= (int)read_bits(stream, 1);
        if (stream->failed)
            return -1;
        int count = code->count[length];
        if (value - first < count)
            return code->symbol[index + value - first];
        index += count;
        first = (first + count) * 2;
        value *= 2;
    }
    return -1;
}

static int inflate_stored(inflate_stream *stream)
{
    stream->bits = 0; /* a stored block starts on a byte boundary */
    stream->bit_count = 0;
    if (stream->in_length - stream->in_position < 4)
        return 1;
    const unsigned char *header = stream->in + stream->in_position;
    size_t length = header[0] | header[1] << 8;
    size_t complement = header[2] | header[3] << 8;
    stream->in_position += 4;
    if (length != (~complement & 0xffff) || length > stream->in_length - stream->in_position ||
        length > stream->out_capacity - stream->out_length)
        return 1;
    if (length > 0)
        memcpy(stream->out + stream->out_length, stream->in + stream->in_position, length);
    stream->in_position += length;
    stream->out_length += length;
    return 0;
}

static int inflate_codes(inflate_stream *stream, const huffman_code *literal, const huffman_code *distance)
{
    for (;;) {
        int symbol = decode_symbol(stream, literal);
        if (symbol < 0)
            return 1;
        if (symbol < END_OF_BLOCK) {
            if (stream->out_length == stream->out_capacity)
                return 1;
            stream->out[stream->out_length++] = (unsigned char)symbol;
            continue;
        }
        if (symbol == END_OF_BLOCK)
            return 0;
        symbol -= END_OF_BLOCK + 1;
        if (symbol >= LENGTH_SYMBOLS)
            return 1;
        size_t length = LENGTH_BASE[symbol] + read_bits(stream, LENGTH_EXTRA[symbol]);
        int distance_symbol = decode_symbol(stream, distance);
        if (distance_symbol < 0 || distance_symbol >= DISTANCE_SYMBOLS)
            return 1;
        size_t back = DISTANCE_BASE[distance_symbol] + read_bits(stream, DISTANCE_EXTRA[distance_symbol]);
        if (stream->failed || back > stream->out_length || length > stream->out_capacity - stream->out_length)
            return 1;
        /* byte by byte: the copy may overlap the bytes it produces */
        for (; length > 0; length--, stream->out_length++)
            stream->out[stream->out_length] = stream->out[stream->out_length - back];
    }
}

static int inflate_fixed(inflate_stream *stream)
{
    unsigned char lengths[LITERAL_SYMBOLS];
    huffman_code literal, distance;
    for (int symbol = 0; symbol < LITERAL_SYMBOLS; symbol++)
        lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    build_code(&literal, lengths, LITERAL_SYMBOLS, 0);
    memset(lengths, 5, FIXED_DISTANCE_SYMBOLS);
    build_code(&distance, lengths, FIXED_DISTANCE_SYMBOLS, 0);
    return inflate_codes(stream, &literal, &distance);
}

static int inflate_dynamic(inflate_stream *stream)
{
    unsigned char code_length_lengths[CODE_LENGTH_SYMBOLS] = {0};
    unsigned char lengths[USED_LITERAL_SYMBOLS + DISTANCE_SYMBOLS];
    huffman_code code_length, literal, distance;
    int literal_count = (int)read_bits(stream, 5) + 257;
    int distance_count = (int)read_bits(stream, 5) + 1;
    int code_length_count = (int)read_bits(stream, 4) + 4;
    if (stream->failed || literal_count > USED_LITERAL_SYMBOLS || distance_count > DISTANCE_SYMBOLS)
        return 1;
    for (int i = 0; i < code_length_count; i++)
        code_length_lengths[CODE_LENGTH_ORDER[i]] = (unsigned char)read_bits(stream, 3);
    if (stream->failed || build_code(&code_length, code_length_lengths, CODE_LENGTH_SYMBOLS, 0) != 0)
        return 1;
    int total = literal_count + distance_count;
    for (int i = 0; i < total;) {
        int symbol = decode_symbol(stream, &code_length);
        if (symbol < 0)
            return 1;
        if (symbol < 16) {
            lengths[i++] = (unsigned char)symbol;
            continue;
        }
        unsigned char repeated = 0;
        int repeat;
        if (symbol == 16) {
            if (i == 0)
                return 1;
            repeated = lengths[i - 1];
            repeat = 3 + (int)read_bits(stream, 2);
        } else if (symbol == 17) {
            repeat = 3 + (int)read_bits(stream, 3);
        } else {
            repeat = 11 + (int)read_bits(stream, 7);
        }
        if (stream->failed || repeat > total - i)
            return 1;
        memset(lengths + i, repeated, (size_t)repeat);
        i += repeat;
    }
    /* a block that cannot end is malformed */
    if (lengths[END_OF_BLOCK] == 0 || build_code(&literal, lengths, literal_count, 1) != 0 ||
        build_code(&distance, lengths + literal_count, distance_count, 1) != 0)
        return 1;
    return inflate_codes(stream, &literal, &distance);
}

int inflate_raw(const unsigned char *in, size_t in_length, unsigned char *out, size_t out_capacity,
                size_t *out_length)
{
    inflate_stream stream = {in, in_length, 0, 0, 0, 0, out, out_capacity, 0};
    unsigned last;
    do {
        last = read_bits(&stream, 1);
        unsigned type = read_bits(&stream, 2);
        if (stream.failed)
            return 1;
        int failed = type == 0   ? inflate_stored(&stream)
                     : type == 1 ? inflate_fixed(&stream)
                     : type == 2 ? inflate_dynamic(&stream)
                                 : 1;
        if (failed)
            return 1;
    } while (!last);
    *out_length = stream.out_length;
    return 0;
}
