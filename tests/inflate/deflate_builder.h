// DEFLATE streams (RFC 1951) written bit by bit for the decoder's tests:
// exactly the codes a case needs, well formed or not, as no compressor would
// write them on purpose.
#ifndef QUILLBY_DEFLATE_BUILDER_H
#define QUILLBY_DEFLATE_BUILDER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct deflate_builder {
    std::vector<uint8_t> bytes;
    int used_bits = 0; // of the last byte; 0 when the stream ends on a byte boundary
};

// count bits of value, least significant first, as headers and extra bits go.
void put_bits(deflate_builder *builder, unsigned value, int count);

// A Huffman code of length bits, its most significant bit first.
void put_code(deflate_builder *builder, unsigned code, int length);

// The canonical codes of RFC 1951 3.2.2 for these code lengths (0: unused).
std::vector<unsigned> canonical_codes(const std::vector<int> &lengths);

// The least and greatest distance of distance code code (0..29).
void distance_range(int code, int *least, int *greatest);

// In a block of the fixed code: one literal/length symbol (0..287, 286 and
// 287 included), and a copy of length 3..258 from distance 1..32768.
void put_fixed_symbol(deflate_builder *builder, int symbol);
void put_fixed_copy(deflate_builder *builder, int length, int distance);

// One symbol of the code-length code and its extra bits (16: 2, 17: 3, 18: 7).
struct code_length_symbol {
    int symbol;
    unsigned extra;
};

// A dynamic block's header: its counts, the code-length code's lengths by
// symbol 0..18 (sent in RFC 1951's permuted order, all 19) and the code
// lengths in that code.
void put_dynamic_header(deflate_builder *builder, bool final, int literal_count, int distance_count,
                        const int code_length_lengths[19], const std::vector<code_length_symbol> &symbols);

// The same for these literal/length and distance code lengths, each sent as
// one symbol of a complete code-length code.
void put_dynamic_header(deflate_builder *builder, bool final, const std::vector<int> &literal_lengths,
                        const std::vector<int> &distance_lengths);

#endif
