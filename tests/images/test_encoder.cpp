#include "tests/images/test_encoder.h"

namespace tessel_test {

namespace {
constexpr std::uint32_t kQ1 = 0x8000;
constexpr std::uint32_t kQ2 = 0x10000;
constexpr std::uint32_t kQ3 = 0x18000;
constexpr std::uint32_t kMaxCum = 0x7FFF;
}  // namespace

CTestLzariEncoder::CTestLzariEncoder() {
    // Character c starts at symbol c + 1 with frequency 1; symbol 0 is the sentinel.
    m_freq[0] = 0;
    m_symToChar[0] = 0;
    for (std::uint32_t c = 0; c < 314; ++c) {
        m_charToSym[c] = c + 1;
        m_symToChar[c + 1] = c;
        m_freq[c + 1] = 1;
    }
    m_cum[314] = 0;
    for (std::uint32_t k = 314; k > 0; --k) {
        m_cum[k - 1] = m_cum[k] + m_freq[k];
    }
    // pcum[v] = sum of the counts of values v .. 4095, count(v) = 10000 / (v + 201).
    m_positionCum[4096] = 0;
    for (std::uint32_t v = 4096; v > 0; --v) {
        m_positionCum[v - 1] = m_positionCum[v] + 10000 / (v - 1 + 201);
    }
}

void CTestLzariEncoder::PutBit(std::uint32_t bit) {
    m_byte = (m_byte << 1) | bit;
    if (++m_bits == 8) {
        m_out.push_back(static_cast<std::uint8_t>(m_byte));
        m_byte = 0;
        m_bits = 0;
    }
}

void CTestLzariEncoder::SendBit(std::uint32_t bit) {
    PutBit(bit);
    for (; m_pending > 0; --m_pending) {
        PutBit(bit ^ 1u);
    }
}

void CTestLzariEncoder::Encode(std::uint32_t from, std::uint32_t to, std::uint32_t total) {
    const std::uint32_t range = m_high - m_low;
    m_high = m_low + range * to / total;
    m_low = m_low + range * from / total;
    for (;;) {
        if (m_high <= kQ2) {
            SendBit(0);
        } else if (m_low >= kQ2) {
            SendBit(1);
            m_low -= kQ2;
            m_high -= kQ2;
        } else if (m_low >= kQ1 && m_high <= kQ3) {
            ++m_pending;
            m_low -= kQ1;
            m_high -= kQ1;
        } else {
            break;
        }
        m_low *= 2;
        m_high *= 2;
    }
}

void CTestLzariEncoder::EncodeChar(std::uint32_t code) {
    const std::uint32_t k = m_charToSym[code];
    Encode(m_cum[k], m_cum[k - 1], m_cum[0]);
    // Update: halve first when the total has reached the limit.
    if (m_cum[0] >= kMaxCum) {
        for (std::uint32_t s = 1; s <= 314; ++s) {
            m_freq[s] = (m_freq[s] + 1) / 2;
        }
        m_cum[314] = 0;
        for (std::uint32_t s = 314; s > 0; --s) {
            m_cum[s - 1] = m_cum[s] + m_freq[s];
        }
    }
    std::uint32_t j = k;
    while (m_freq[j - 1] == m_freq[k]) {
        --j;
    }
    if (j < k) {
        const std::uint32_t cj = m_symToChar[j];
        const std::uint32_t ck = m_symToChar[k];
        m_symToChar[j] = ck;
        m_symToChar[k] = cj;
        m_charToSym[ck] = j;
        m_charToSym[cj] = k;
    }
    ++m_freq[j];
    for (std::uint32_t s = 0; s < j; ++s) {
        ++m_cum[s];
    }
}

void CTestLzariEncoder::Literal(std::uint8_t byte) {
    EncodeChar(byte);
}

void CTestLzariEncoder::Match(std::uint32_t length, std::uint32_t position) {
    EncodeChar(253 + length);
    Encode(m_positionCum[position + 1], m_positionCum[position], m_positionCum[0]);
}

std::vector<std::uint8_t> CTestLzariEncoder::Finish() {
    ++m_pending;
    SendBit(m_low < kQ1 ? 0u : 1u);
    while (m_bits != 0) {
        PutBit(0);
    }
    return m_out;
}

CTokenExpander::CTokenExpander() {
    for (std::uint32_t i = 0; i < 4096; ++i) {
        m_ring[i] = i < 4036 ? 0x20 : 0x00;
    }
}

void CTokenExpander::Literal(std::uint8_t byte) {
    m_bytes.push_back(byte);
    m_ring[m_r] = byte;
    m_r = (m_r + 1) % 4096;
}

void CTokenExpander::Match(std::uint32_t length, std::uint32_t position) {
    const std::uint32_t start = (m_r + 4096 - position - 1) % 4096;
    for (std::uint32_t k = 0; k < length; ++k) {
        Literal(m_ring[(start + k) % 4096]);
    }
}

}  // namespace tessel_test
