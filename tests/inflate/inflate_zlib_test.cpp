// The setup's DEFLATE decoder against the host's zlib: every block type zlib
// writes, every length and distance code, damaged streams refused where zlib
// refuses them, and a bounded run of random streams and random damage on
// which the two must agree byte for byte.
#include <gtest/gtest.h>
#include <stdio.h>
#include <zlib.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "deflate_builder.h"
#include "zip/inflate.h"

namespace {

typedef std::vector<uint8_t> bytes;

struct decoded {
    bool ok;
    bytes out;
};

decoded ours(const bytes &stream, size_t capacity)
{
    bytes out(capacity + 1); // never empty, so that out.data() is a buffer
    size_t length = 0;
    bool ok = inflate_raw(stream.data(), stream.size(), out.data(), capacity, &length) == 0;
    out.resize(ok ? length : 0);
    return {ok, out};
}

decoded zlibs(const bytes &stream)
{
    z_stream z = {};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef *>(stream.data());
    z.avail_in = (uInt)stream.size();
    bytes out;
    int status;
    do {
        uint8_t chunk[1 << 16];
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (status == Z_OK);
    inflateEnd(&z);
    if (status != Z_STREAM_END)
        out.clear();
    return {status == Z_STREAM_END, out};
}

bytes deflated(const bytes &data, int level, int strategy)
{
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
    bytes out(2 * deflateBound(&z, data.size()) + 1024);
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bytes random_bytes(size_t count, std::mt19937 *random, int alphabet = 256)
{
    bytes data(count);
    for (uint8_t &byte : data)
        byte = (uint8_t)((*random)() % alphabet);
    return data;
}

// Random bytes where, for every length 3..258 and the least and greatest
// distance zlib reaches of every distance code, one repeat can be found only
// at that length and distance: it copies fresh random bytes, and a fresh
// random byte follows it.
bytes crafted_repeats()
{
    std::mt19937 random(7);
    std::vector<int> distances;
    for (int code = 0; code < 30; code++) {
        int least, greatest;
        distance_range(code, &least, &greatest);
        distances.push_back(least);
        distances.push_back(greatest < 32506 ? greatest : 32506); // zlib's farthest match
    }
    bytes data;
    for (int length = 3; length <= 258; length++) {
        int distance = distances[(length - 3) % distances.size()];
        bytes fresh = random_bytes(distance, &random);
        data.insert(data.end(), fresh.begin(), fresh.end());
        for (int i = 0; i < length; i++)
            data.push_back(data[data.size() - distance]);
        data.push_back((uint8_t)random());
    }
    return data;
}

int first_block_type(const bytes &stream)
{
    return (stream[0] >> 1) & 3;
}

TEST(InflateAgainstZlib, StreamsZlibWritesAtEachLevel)
{
    std::mt19937 random(3);
    std::string text;
    while (text.size() < 100000)
        text += "The course opens at http://127.0.0.1:8793/ once the setup has run. ";
    const bytes inputs[] = {crafted_repeats(), bytes(text.begin(), text.end()), bytes(70000, 'x'),
                            random_bytes(70000, &random), bytes(), bytes(1, 'q')};
    // The block type zlib starts the text with: -1 where that is not the point.
    const struct {
        int level, strategy, first_type;
    } settings[] = {{0, Z_DEFAULT_STRATEGY, 0}, {1, Z_DEFAULT_STRATEGY, -1}, {6, Z_DEFAULT_STRATEGY, 2},
                    {9, Z_DEFAULT_STRATEGY, 2}, {9, Z_FIXED, 1}, {9, Z_HUFFMAN_ONLY, -1}, {9, Z_RLE, -1}};
    for (const auto &setting : settings) {
        for (const bytes &input : inputs) {
            bytes stream = deflated(input, setting.level, setting.strategy);
            decoded result = ours(stream, input.size());
            ASSERT_TRUE(result.ok) << "level " << setting.level << " strategy " << setting.strategy;
            ASSERT_TRUE(result.out == input) << "level " << setting.level << " strategy " << setting.strategy;
        }
        if (setting.first_type >= 0) {
            EXPECT_EQ(first_block_type(deflated(inputs[1], setting.level, setting.strategy)), setting.first_type)
                << "level " << setting.level << " strategy " << setting.strategy;
        }
    }
}

// A block of the fixed code with a copy of every length 3..258 and of the
// least and greatest distance of every distance code, 32768 included, which
// no zlib compressor reaches.
TEST(InflateAgainstZlib, EveryLengthAndDistanceCode)
{
    std::mt19937 random(11);
    deflate_builder builder;
    bytes expected = random_bytes(32768, &random);
    put_bits(&builder, 1, 1);
    put_bits(&builder, 1, 2);
    for (uint8_t literal : expected)
        put_fixed_symbol(&builder, literal);
    for (int copy = 0; copy < 256; copy++) {
        int length = 3 + copy, distance, greatest;
        distance_range(copy % 30, &distance, &greatest);
        put_fixed_copy(&builder, length, distance);
        for (int i = 0; i < length; i++)
            expected.push_back(expected[expected.size() - distance]);
    }
    for (int code = 0; code < 30; code++) {
        int least, greatest;
        distance_range(code, &least, &greatest);
        for (int distance : {least, greatest}) {
            put_fixed_copy(&builder, 258, distance);
            for (int i = 0; i < 258; i++)
                expected.push_back(expected[expected.size() - distance]);
        }
    }
    put_fixed_symbol(&builder, 256);
    decoded reference = zlibs(builder.bytes);
    ASSERT_TRUE(reference.ok && reference.out == expected) << "the test's own stream is wrong";
    decoded result = ours(builder.bytes, expected.size());
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.out == expected);
}

// The literal/length code of a dynamic block with four codes of two bits:
// 'a', 'b', end of block and length 3.
std::vector<int> four_literals()
{
    std::vector<int> lengths(258, 0);
    lengths['a'] = lengths['b'] = lengths[256] = lengths[257] = 2;
    return lengths;
}

// A final dynamic block sending symbols in its codes: a literal/length
// symbol as it is, distance symbol d as -1 - d.
bytes dynamic_block(const std::vector<int> &literal_lengths, const std::vector<int> &distance_lengths,
                    const std::vector<int> &symbols)
{
    deflate_builder builder;
    put_dynamic_header(&builder, true, literal_lengths, distance_lengths);
    std::vector<unsigned> literal_codes = canonical_codes(literal_lengths);
    std::vector<unsigned> distance_codes = canonical_codes(distance_lengths);
    for (int symbol : symbols)
        if (symbol >= 0)
            put_code(&builder, literal_codes[symbol], literal_lengths[symbol]);
        else
            put_code(&builder, distance_codes[-1 - symbol], distance_lengths[-1 - symbol]);
    return builder.bytes;
}

bytes with_code_lengths(int literal_count, int distance_count, const int code_length_lengths[19],
                        const std::vector<code_length_symbol> &symbols)
{
    deflate_builder builder;
    put_dynamic_header(&builder, true, literal_count, distance_count, code_length_lengths, symbols);
    return builder.bytes;
}

// A final dynamic block of literal_count (258 or more) literal/length and
// distance_count distance codes, whole and well formed but for those counts:
// "aaaa" as 'a' and a copy of three from distance 1, then the end.
bytes with_code_counts(int literal_count, int distance_count)
{
    std::vector<int> literal_lengths = four_literals(), distance_lengths(distance_count, 0);
    literal_lengths.resize(literal_count, 0);
    distance_lengths[0] = 1;
    return dynamic_block(literal_lengths, distance_lengths, {'a', 257, -1, 256});
}

bytes fixed_block(const std::vector<int> &symbols)
{
    deflate_builder builder;
    put_bits(&builder, 1, 1);
    put_bits(&builder, 1, 2);
    for (int symbol : symbols)
        put_fixed_symbol(&builder, symbol);
    return builder.bytes;
}

TEST(InflateRefuses, WhatZlibRefuses)
{
    int complete[19], all_one[19], lone[19] = {0};
    for (int symbol = 0; symbol < 19; symbol++) {
        complete[symbol] = symbol < 13 ? 4 : 5;
        all_one[symbol] = 1;
    }
    lone[8] = 1;
    std::vector<int> without_end(258, 0);
    without_end['a'] = without_end['b'] = 1;
    std::vector<int> oversubscribed(286, 8), incomplete(257, 9);
    deflate_builder copy_first, bad_distance;
    put_bits(&copy_first, 1, 1);
    put_bits(&copy_first, 1, 2);
    put_fixed_copy(&copy_first, 3, 1);
    put_bits(&bad_distance, 1, 1);
    put_bits(&bad_distance, 1, 2);
    put_fixed_symbol(&bad_distance, 'a');
    put_fixed_symbol(&bad_distance, 257);
    put_code(&bad_distance, 30, 5);
    const struct {
        const char *what;
        bytes stream;
    } cases[] = {
        {"no input", {}},
        {"block type 3", {0x07}},
        {"a stored length whose complement is wrong", {0x01, 0x01, 0x00, 0xff, 0xff, 'x'}},
        {"a stored block longer than the input", {0x01, 0x05, 0x00, 0xfa, 0xff, 'x', 'y'}},
        {"no final block", {0x00, 0x00, 0x00, 0xff, 0xff}},
        {"287 literal/length codes", with_code_counts(287, 30)},
        {"288 literal/length codes", with_code_counts(288, 30)},
        {"31 distance codes", with_code_counts(258, 31)},
        {"32 distance codes", with_code_counts(286, 32)},
        {"an over-subscribed code-length code", with_code_lengths(257, 1, all_one, {})},
        {"a code-length code of one code", with_code_lengths(257, 1, lone, {{8, 0}})},
        {"a repeat with nothing before it", with_code_lengths(257, 1, complete, {{16, 0}})},
        {"a repeat past the last length", with_code_lengths(257, 1, complete, {{18, 127}, {18, 127}})},
        {"an over-subscribed literal/length code", dynamic_block(oversubscribed, {1}, {})},
        {"an incomplete literal/length code", dynamic_block(incomplete, {1}, {256})},
        {"an incomplete distance code of two codes", dynamic_block(four_literals(), {2, 2}, {'a', 256})},
        {"an over-subscribed distance code", dynamic_block(four_literals(), {1, 1, 1}, {'a', 256})},
        {"no end-of-block code", dynamic_block(without_end, {1}, {'a'})},
        {"a copy from before the start", copy_first.bytes},
        {"literal/length symbol 286", fixed_block({'a', 286})},
        {"distance symbol 30", bad_distance.bytes},
    };
    for (const auto &damaged : cases) {
        EXPECT_FALSE(zlibs(damaged.stream).ok) << damaged.what << ": the case is no damage to zlib";
        EXPECT_FALSE(ours(damaged.stream, 1 << 16).ok) << damaged.what;
    }
}

// A lone one-bit distance code, none at all where no copy needs one, and a
// block counting as many codes as it may.
TEST(InflateAccepts, WhatZlibAccepts)
{
    const struct {
        const char *what;
        bytes stream, expected;
    } cases[] = {
        {"a lone distance code", dynamic_block(four_literals(), {1}, {'a', 257, -1, 256}), bytes(4, 'a')},
        {"no distance code", dynamic_block(four_literals(), {0}, {'a', 'b', 256}), bytes{'a', 'b'}},
        {"the most codes a block may count", with_code_counts(286, 30), bytes(4, 'a')},
        {"an empty fixed block", fixed_block({256}), bytes()},
    };
    for (const auto &accepted : cases) {
        decoded reference = zlibs(accepted.stream);
        ASSERT_TRUE(reference.ok && reference.out == accepted.expected) << accepted.what << ": the case is wrong";
        decoded result = ours(accepted.stream, accepted.expected.size());
        EXPECT_TRUE(result.ok) << accepted.what;
        EXPECT_TRUE(result.out == accepted.expected) << accepted.what;
    }
}

TEST(InflateRefuses, EveryTruncationOfAStream)
{
    std::string text;
    for (int i = 0; text.size() < 3000; i++)
        text += "lesson " + std::to_string(i * i % 97) + " ";
    bytes data(text.begin(), text.end());
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        bytes stream = deflated(data, 9, strategy);
        for (size_t length = 0; length < stream.size(); length++) {
            bytes cut(stream.begin(), stream.begin() + length);
            ASSERT_FALSE(zlibs(cut).ok) << length;
            ASSERT_FALSE(ours(cut, data.size()).ok) << "cut to " << length << " of " << stream.size();
        }
    }
}

TEST(InflateRefuses, OutputThatWouldNotFit)
{
    bytes stored = {0x01, 0x05, 0x00, 0xfa, 0xff, 'h', 'e', 'l', 'l', 'o'};
    deflate_builder copy;
    put_bits(&copy, 1, 1);
    put_bits(&copy, 1, 2);
    put_fixed_symbol(&copy, 'a');
    put_fixed_copy(&copy, 10, 1);
    put_fixed_symbol(&copy, 256);
    for (const bytes &stream : {stored, copy.bytes, fixed_block({'a', 'b', 256})}) {
        size_t size = zlibs(stream).out.size();
        EXPECT_TRUE(ours(stream, size).ok) << size;
        EXPECT_FALSE(ours(stream, size - 1).ok) << size;
        EXPECT_FALSE(ours(stream, 0).ok) << size;
    }
}

// Damage of the kinds a download or a disk does: bits flipped, bytes
// overwritten, the stream cut short or run on.
bytes damaged(bytes stream, std::mt19937 *random)
{
    int kind = (*random)() % 4;
    size_t at = stream.empty() ? 0 : (*random)() % stream.size();
    if (kind == 0 && !stream.empty())
        stream[at] ^= (uint8_t)(1u << (*random)() % 8);
    else if (kind == 1 && !stream.empty())
        stream[at] = (uint8_t)(*random)();
    else if (kind == 2)
        stream.resize(at);
    else
        stream.insert(stream.begin() + at, (uint8_t)(*random)());
    return stream;
}

// Random data of three kinds (noise, a small alphabet, long runs) at random
// levels and strategies, each stream whole and four times damaged, and random
// bytes as streams.
TEST(InflateAgainstZlib, RandomStreamsAndRandomDamage)
{
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    std::mt19937 random(20240611);
    size_t streams = 0, decoded_bytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 1000; round++) {
        size_t size = random() % (1 << (random() % 16 + 1));
        int kind = random() % 3;
        bytes data = random_bytes(size, &random, kind == 0 ? 256 : 4);
        if (kind == 2)
            for (size_t i = 1; i < data.size(); i++)
                data[i] = random() % 64 == 0 ? data[i] : data[i - 1];
        bytes stream = deflated(data, random() % 10, strategies[random() % 5]);
        decoded whole = ours(stream, data.size());
        ASSERT_TRUE(whole.ok && whole.out == data) << "round " << round;
        streams++;
        decoded_bytes += whole.out.size();
        for (int damage = 0; damage <= 4; damage++) {
            bytes broken = damage < 4 ? damaged(stream, &random) : random_bytes(random() % 64, &random);
            decoded reference = zlibs(broken);
            decoded result = ours(broken, reference.ok ? reference.out.size() : data.size() * 2 + 4096);
            ASSERT_EQ(result.ok, reference.ok) << "round " << round << " damage " << damage;
            ASSERT_TRUE(result.out == reference.out) << "round " << round << " damage " << damage;
            streams++;
            decoded_bytes += result.out.size();
        }
    }
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                       .count();
    printf("%zu streams, %zu bytes decoded, %lld ms\n", streams, decoded_bytes, ms);
}

} // namespace
