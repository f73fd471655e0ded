#pragma once

#include <cstdint>
#include <vector>

// A test-only LZARI arithmetic encoder for chosen code sequences, written from the
// encoder notes (sections 7 to 10), independently of the decoder. It does not search
// for matches: the test says which literals and matches to code, including positions
// the real encoder never produces (4036 .. 4095).
namespace tessel_test {

class CTestLzariEncoder {
public:
    CTestLzariEncoder();

    void Literal(std::uint8_t byte);
    // length 3 .. 60; position 0 .. 4095 (distance position + 1).
    void Match(std::uint32_t length, std::uint32_t position);
    // Closing bits and the zero bits that complete the last byte.
    std::vector<std::uint8_t> Finish();

private:
    void EncodeChar(std::uint32_t code);
    void Encode(std::uint32_t from, std::uint32_t to, std::uint32_t total);
    void SendBit(std::uint32_t bit);
    void PutBit(std::uint32_t bit);

    std::uint32_t m_freq[315];
    std::uint32_t m_cum[315];
    std::uint32_t m_symToChar[315];
    std::uint32_t m_charToSym[314];
    std::uint32_t m_positionCum[4097];
    std::uint32_t m_low = 0;
    std::uint32_t m_high = 0x20000;
    std::uint32_t m_pending = 0;
    std::uint32_t m_byte = 0;
    std::uint32_t m_bits = 0;
    std::vector<std::uint8_t> m_out;
};

// What a token sequence unpacks to (spaces in ring 0 .. 4035, zeros in 4036 .. 4095).
class CTokenExpander {
public:
    CTokenExpander();
    void Literal(std::uint8_t byte);
    void Match(std::uint32_t length, std::uint32_t position);
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::uint8_t m_ring[4096];
    std::uint32_t m_r = 4036;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace tessel_test
