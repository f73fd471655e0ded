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
    // helper declarations belong to the implementation
};
