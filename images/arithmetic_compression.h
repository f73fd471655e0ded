#pragma once

#include <cstdint>

// LZARI decoder (LZ77 over a 4096-byte window with adaptive arithmetic coding),
// bit-exact with the published 1989 algorithm for streams made by its encoder.
//
// Contract, whatever the stream holds:
//  - Decode never reads in_data at or beyond in_size. Bits asked for past the end of
//    the input read as 0.
//  - Decode never writes more than text_size + 59 bytes to out_data (a match is copied
//    whole, so a damaged stream may pass text_size by up to F - 1 bytes); the caller's
//    buffer must hold text_size + 59 bytes.
//  - The result is the number of bytes written; 0 (nothing written) for a null pointer
//    or a zero size.
// A damaged stream is not detected here: the caller compares what it got with what
// the build recorded.
class CArithmeticCompression {
public:
    static constexpr std::uint32_t N = 4096;
    static constexpr std::uint32_t F = 60;
    static constexpr std::uint32_t THRESHOLD = 2;
    static constexpr std::uint32_t N_CHAR = 256 - THRESHOLD + F;
    static constexpr std::uint32_t M = 15;
    static constexpr std::uint32_t Q1 = 1u << M;
    static constexpr std::uint32_t Q2 = 2 * Q1;
    static constexpr std::uint32_t Q3 = 3 * Q1;
    static constexpr std::uint32_t Q4 = 4 * Q1;
    static constexpr std::uint32_t MAX_CUM = Q1 - 1;

    CArithmeticCompression();
    virtual ~CArithmeticCompression();

    std::uint32_t Decode(const std::uint8_t* in_data, std::uint32_t in_size, std::uint8_t* out_data,
                         std::uint32_t text_size);

private:
    // The steps of the published algorithm.
    std::uint32_t GetBit();
    std::uint32_t GetBits(std::uint32_t count);
    void StartDecode();
    void StartModel();
    std::uint32_t DecodeChar();
    std::uint32_t DecodePosition();
    std::uint32_t BinarySearchSym(std::uint32_t x) const;
    std::uint32_t BinarySearchPos(std::uint32_t x) const;
    void UpdateModel(std::uint32_t s);
    // Shared by DecodeChar and DecodePosition: doubles the interval until it spans
    // more than a quarter of the range, taking one stream bit per doubling.
    void Renormalise();

    // Fields of the published algorithm, in its order. Every table is a fixed array, so
    // Decode allocates nothing and every index it forms stays within these bounds.
    const std::uint8_t* in_data;
    std::uint8_t* out_data;
    std::uint32_t text_size;
    std::uint32_t in_pos;
    std::uint32_t out_count;
    std::uint32_t in_size;
    std::uint8_t text_buf[N];
    std::uint32_t low;
    std::uint32_t high;
    std::uint32_t value;
    std::int32_t char_to_sym[N_CHAR];
    std::int32_t sym_to_char[N_CHAR + 1];
    std::uint32_t sym_freq[N_CHAR + 1];
    std::uint32_t sym_cum[N_CHAR + 1];
    std::uint32_t position_cum[N + 1];
    std::uint32_t bit_buffer;
    std::uint32_t bit_mask;
};
