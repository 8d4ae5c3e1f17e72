// DEFLATE streams (RFC 1951) written bit by bit for the decoder's tests. The
// length and distance codes are derived here from the RFC's rules, not copied
// from the decoder's tables, so that a slip in one shows against the other.
#include "deflate_builder.h"

namespace {

const int CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length codes 257..264 carry no extra bits, then each four codes one more;
// 285 is 258 alone.
void length_code(int length, int *symbol, int *extra_bits, int *extra)
{
    int base = 3;
    for (int code = 257; code < 285 && length != 258; code++) {
        int bits = code < 265 ? 0 : (code - 261) / 4;
        if (length < base + (1 << bits)) {
            *symbol = code;
            *extra_bits = bits;
            *extra = length - base;
            return;
        }
        base += 1 << bits;
    }
    *symbol = 285;
    *extra_bits = 0;
    *extra = 0;
}

int distance_extra_bits(int code)
{
    return code < 4 ? 0 : code / 2 - 1;
}

} // namespace

void put_bits(deflate_builder *builder, unsigned value, int count)
{
    for (int bit = 0; bit < count; bit++) {
        if (builder->used_bits == 0)
            builder->bytes.push_back(0);
        builder->bytes.back() |= ((value >> bit) & 1) << builder->used_bits;
        builder->used_bits = (builder->used_bits + 1) % 8;
    }
}

void put_code(deflate_builder *builder, unsigned code, int length)
{
    for (int bit = length - 1; bit >= 0; bit--)
        put_bits(builder, code >> bit, 1);
}

std::vector<unsigned> canonical_codes(const std::vector<int> &lengths)
{
    unsigned count[16] = {0}, next[16] = {0};
    for (int length : lengths)
        if (length != 0)
            count[length]++;
    unsigned code = 0;
    for (int bits = 1; bits < 16; bits++) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<unsigned> codes(lengths.size());
    for (size_t symbol = 0; symbol < lengths.size(); symbol++)
        if (lengths[symbol] != 0)
            codes[symbol] = next[lengths[symbol]]++;
    return codes;
}

void distance_range(int code, int *least, int *greatest)
{
    *least = 1;
    for (int below = 0; below < code; below++)
        *least += 1 << distance_extra_bits(below);
    *greatest = *least + (1 << distance_extra_bits(code)) - 1;
}

void put_fixed_symbol(deflate_builder *builder, int symbol)
{
    if (symbol < 144)
        put_code(builder, 0x30 + symbol, 8);
    else if (symbol < 256)
        put_code(builder, 0x190 + symbol - 144, 9);
    else if (symbol < 280)
        put_code(builder, symbol - 256, 7);
    else
        put_code(builder, 0xC0 + symbol - 280, 8);
}

void put_fixed_copy(deflate_builder *builder, int length, int distance)
{
    int symbol, bits, extra;
    length_code(length, &symbol, &bits, &extra);
    put_fixed_symbol(builder, symbol);
    put_bits(builder, extra, bits);
    for (int code = 0;; code++) {
        int least, greatest;
        distance_range(code, &least, &greatest);
        if (distance <= greatest) {
            put_code(builder, code, 5);
            put_bits(builder, distance - least, distance_extra_bits(code));
            return;
        }
    }
}

void put_dynamic_header(deflate_builder *builder, bool final, int literal_count, int distance_count,
                        const int code_length_lengths[19], const std::vector<code_length_symbol> &symbols)
{
    put_bits(builder, final, 1);
    put_bits(builder, 2, 2);
    put_bits(builder, literal_count - 257, 5);
    put_bits(builder, distance_count - 1, 5);
    put_bits(builder, 19 - 4, 4);
    for (int symbol : CODE_LENGTH_ORDER)
        put_bits(builder, code_length_lengths[symbol], 3);
    std::vector<unsigned> codes = canonical_codes(std::vector<int>(code_length_lengths, code_length_lengths + 19));
    for (const code_length_symbol &sent : symbols) {
        put_code(builder, codes[sent.symbol], code_length_lengths[sent.symbol]);
        put_bits(builder, sent.extra, sent.symbol == 16 ? 2 : sent.symbol == 17 ? 3 : sent.symbol == 18 ? 7 : 0);
    }
}

void put_dynamic_header(deflate_builder *builder, bool final, const std::vector<int> &literal_lengths,
                        const std::vector<int> &distance_lengths)
{
    // Thirteen codes of four bits and six of five fill the code space exactly.
    int code_length_lengths[19];
    for (int symbol = 0; symbol < 19; symbol++)
        code_length_lengths[symbol] = symbol < 13 ? 4 : 5;
    std::vector<code_length_symbol> symbols;
    for (int length : literal_lengths)
        symbols.push_back({length, 0});
    for (int length : distance_lengths)
        symbols.push_back({length, 0});
    put_dynamic_header(builder, final, (int)literal_lengths.size(), (int)distance_lengths.size(), code_length_lengths,
                       symbols);
}
