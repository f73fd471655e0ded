#include "images/arithmetic_compression.h"

#include <bit>

// The steps follow the published algorithm one for one. Why no index can leave its table, for
// any input bits whatsoever:
//  - The coder keeps low <= value < high and high - low > Q1 after every
//    renormalisation (value starts below Q4 = high, every step keeps value inside the
//    chosen sub-interval, doubling keeps it inside). So x lies in 0 .. total - 1.
//    Even if it did not, the binary searches below only ever return 1 .. 314 and
//    1 .. 4096 by construction, so s - 1, s, p and p + 1 are always valid indices.
//  - sym_to_char is a permutation of the codes 0 .. 313, so a match length is 3 .. 60.
//  - Every ring index is masked with N - 1.
//  - Every frequency is at least 1 and sym_freq[0] is 0, so the tie scan of
//    UpdateModel stops at index 1 or above.
// All arithmetic is unsigned 32-bit: (value - low + 1) * total is at most
// Q4 * 32767 < 2^32 while the invariant holds, and wraps harmlessly if it did not.

namespace {

constexpr std::uint32_t kRingMask = CArithmeticCompression::N - 1;

// position_cum[0]: the fixed total of the position model. Dividing by a constant lets
// the compiler use a multiplication; it is the same number StartModel computes.
constexpr std::uint32_t PositionTotal() {
    std::uint32_t total = 0;
    for (std::uint32_t i = CArithmeticCompression::N; i >= 1; --i) {
        total += 10000 / (i + 200);
    }
    return total;
}
constexpr std::uint32_t kPositionTotal = PositionTotal();
static_assert(kPositionTotal == 28568, "the position model's total is 28,568");

// BinarySearchPos's answer for every x below the total. The position model never
// changes, so one fixed table (built at compile time) replaces twelve search steps.
struct SPositionOfCount {
    std::uint16_t position[kPositionTotal];
};
constexpr SPositionOfCount MakePositionOfCount() {
    SPositionOfCount table{};
    // Position p owns the counts [cum(p + 1), cum(p)) with cum(p) the weight of the
    // positions p .. 4095; near positions sit at the top.
    std::uint32_t upper = kPositionTotal;
    for (std::uint32_t p = 0; p < CArithmeticCompression::N; ++p) {
        const std::uint32_t lower = upper - 10000 / (p + 201);
        for (std::uint32_t x = lower; x < upper; ++x) {
            table.position[x] = static_cast<std::uint16_t>(p);
        }
        upper = lower;
    }
    return table;
}
constexpr SPositionOfCount kPositionOfCount = MakePositionOfCount();

}  // namespace

CArithmeticCompression::CArithmeticCompression()
    : in_data(nullptr), out_data(nullptr), text_size(0), in_pos(0), out_count(0), in_size(0) {}

CArithmeticCompression::~CArithmeticCompression() = default;

inline std::uint32_t CArithmeticCompression::GetBit() {
    bit_mask >>= 1;
    if (bit_mask == 0) {
        // Past the end of the input every bit reads as 0 and in_pos stays at in_size.
        if (in_pos < in_size) {
            bit_buffer = in_data[in_pos];
            ++in_pos;
        } else {
            bit_buffer = 0;
        }
        bit_mask = 0x80;
    }
    return (bit_buffer & bit_mask) != 0 ? 1u : 0u;
}

// The next `count` (0 .. 17) bits, first bit most significant: what `count` calls of
// GetBit return, taken a byte's remaining bits at a time. bit_mask keeps GetBit's
// meaning (the bit last taken from bit_buffer; 0 before the first byte).
inline std::uint32_t CArithmeticCompression::GetBits(std::uint32_t count) {
    std::uint32_t bits = 0;
    while (count > 0) {
        if (bit_mask <= 1) {
            if (in_pos < in_size) {
                bit_buffer = in_data[in_pos];
                ++in_pos;
            } else {
                bit_buffer = 0;
            }
            bit_mask = 0x100;
        }
        // Bits of bit_buffer below bit_mask are still to be taken.
        const auto left = static_cast<std::uint32_t>(std::countr_zero(bit_mask));
        const std::uint32_t take = count < left ? count : left;
        bits = (bits << take) | ((bit_buffer >> (left - take)) & ((1u << take) - 1));
        bit_mask >>= take;
        count -= take;
    }
    return bits;
}

void CArithmeticCompression::StartDecode() {
    for (std::uint32_t i = 0; i < M + 2; ++i) {
        value = 2 * value + GetBit();
    }
}

void CArithmeticCompression::StartModel() {
    sym_cum[N_CHAR] = 0;
    for (std::uint32_t s = N_CHAR; s >= 1; --s) {
        const std::uint32_t code = s - 1;
        char_to_sym[code] = static_cast<std::int32_t>(s);
        sym_to_char[s] = static_cast<std::int32_t>(code);
        sym_freq[s] = 1;
        sym_cum[s - 1] = sym_cum[s] + 1;
    }
    sym_freq[0] = 0;
    position_cum[N] = 0;
    for (std::uint32_t i = N; i >= 1; --i) {
        position_cum[i - 1] = position_cum[i] + 10000 / (i + 200);
    }
}

// The published loop, step by step: if low >= Q2, subtract Q2; else if low >= Q1 and
// high <= Q3, subtract Q1; else if high > Q2, stop; then double low, high and value
// and take one bit into value. Here all steps are taken at once, with the same result:
//  - Every step maps each of low, hi = high - 1 and value (all below Q4 = 2^17, as
//    low <= value <= hi) alike: X -> (2X + bit) mod 2^17, bit 16 flipped when Q1 was
//    subtracted. A flip is shifted out by the next step, so after n steps
//    X = ((X << n) + next n bits) mod 2^17, flipped when the last step subtracted Q1.
//  - The number of steps is that of the textbook order (the encoder's): n1 steps while
//    low and hi agree in bit 16, then n3 steps while low has 01 and hi 10 in bits 16,
//    15. Where the published order subtracts Q1 from an interval inside the second
//    quarter (the textbook order doubles it without subtracting), its registers differ
//    from the textbook ones by Q2 until the next step where bit 15 of low is 0, and
//    they never stop in that state, so the step count and the final registers agree.
//    (Checked against the loop above for every pair low < high <= Q4.)
inline void CArithmeticCompression::Renormalise() {
    constexpr std::uint32_t kMask = Q4 - 1;
    std::uint32_t lo = low;
    std::uint32_t hi = high - 1;
    // Leading bits (of 17) in which low and hi agree; at most 17.
    const auto n1 = static_cast<std::uint32_t>(std::countl_zero(((lo ^ hi) << 15) | (1u << 14)));
    lo = (lo << n1) & kMask;
    hi = ((hi << n1) | ((1u << n1) - 1)) & kMask;
    // Leading bits from bit 15 down in which low has 1 and hi 0; at most 16.
    const auto n3 = static_cast<std::uint32_t>(std::countl_one((lo & ~hi) << 16));
    const std::uint32_t steps = n1 + n3;
    if (steps == 0) {
        return;
    }
    const std::uint32_t flip = n3 != 0 ? Q2 : 0;
    low = ((lo << n3) & kMask) ^ flip;
    high = ((((hi << n3) | ((1u << n3) - 1)) & kMask) ^ flip) + 1;
    value = (((value << steps) | GetBits(steps)) & kMask) ^ flip;
}

// The search finds the first index i (from 1) whose cumulative count is not above x.
// The table strictly decreases, so that index is unique and any search finds the same
// one as the published halving loop; this one halves a fixed-size window without
// branching on the data, which keeps the processor's branch predictor out of it.
inline std::uint32_t CArithmeticCompression::BinarySearchSym(std::uint32_t x) const {
    // Invariant: the answer lies in base + 1 .. base + n. Each round probes three
    // quarter points at once (independent loads) and keeps the quarter that holds it.
    std::uint32_t base = 0;
    std::uint32_t n = N_CHAR;
    while (n >= 4) {
        const std::uint32_t q = n / 4;
        const std::uint32_t above = static_cast<std::uint32_t>(sym_cum[base + q] > x) +
                                    static_cast<std::uint32_t>(sym_cum[base + 2 * q] > x) +
                                    static_cast<std::uint32_t>(sym_cum[base + 3 * q] > x);
        base += above * q;
        n = above == 3 ? n - 3 * q : q;
    }
    while (n > 1) {
        const std::uint32_t half = n / 2;
        base = sym_cum[base + half] > x ? base + half : base;
        n -= half;
    }
    return base + 1;
}

inline std::uint32_t CArithmeticCompression::BinarySearchPos(std::uint32_t x) const {
    // The first index i from 1 with position_cum[i] <= x, less one. x is at most
    // total - 1 while the coder's invariant holds; a larger x (which the invariant rules
    // out) gets position 0, as the search would give it.
    return x < kPositionTotal ? kPositionOfCount.position[x] : 0;
}

inline void CArithmeticCompression::UpdateModel(std::uint32_t s) {
    if (sym_cum[0] >= MAX_CUM) {
        std::uint32_t t = 0;
        for (std::uint32_t i = N_CHAR; i >= 1; --i) {
            sym_cum[i] = t;
            sym_freq[i] = (sym_freq[i] + 1) / 2;
            t += sym_freq[i];
        }
        sym_cum[0] = t;
    }
    const std::uint32_t freq = sym_freq[s];
    std::uint32_t i = s;
    while (sym_freq[i - 1] == freq) {
        --i;
    }
    if (i < s) {
        const std::int32_t code_i = sym_to_char[i];
        const std::int32_t code_s = sym_to_char[s];
        sym_to_char[i] = code_s;
        sym_to_char[s] = code_i;
        char_to_sym[code_i] = static_cast<std::int32_t>(s);
        char_to_sym[code_s] = static_cast<std::int32_t>(i);
    }
    ++sym_freq[i];
    for (std::uint32_t k = 0; k < i; ++k) {
        ++sym_cum[k];
    }
}

inline std::uint32_t CArithmeticCompression::DecodeChar() {
    const std::uint32_t total = sym_cum[0];
    const std::uint32_t range = high - low;
    const std::uint32_t x = ((value - low + 1) * total - 1) / range;
    const std::uint32_t s = BinarySearchSym(x);
    high = low + (range * sym_cum[s - 1]) / total;
    low = low + (range * sym_cum[s]) / total;
    Renormalise();
    const std::uint32_t code = static_cast<std::uint32_t>(sym_to_char[s]);
    UpdateModel(s);
    return code;
}

inline std::uint32_t CArithmeticCompression::DecodePosition() {
    const std::uint32_t range = high - low;
    const std::uint32_t x = ((value - low + 1) * kPositionTotal - 1) / range;
    const std::uint32_t p = BinarySearchPos(x);
    high = low + (range * position_cum[p]) / kPositionTotal;
    low = low + (range * position_cum[p + 1]) / kPositionTotal;
    Renormalise();
    return p;
}

std::uint32_t CArithmeticCompression::Decode(const std::uint8_t* in, std::uint32_t in_length,
                                             std::uint8_t* out, std::uint32_t length) {
    low = 0;
    high = Q4;
    value = 0;
    bit_buffer = 0;
    bit_mask = 0;
    in_pos = 0;
    out_count = 0;
    in_data = in;
    out_data = out;
    if (in_length == 0 || length == 0 || in == nullptr || out == nullptr) {
        return 0;
    }
    in_size = in_length;
    text_size = length;

    StartDecode();
    StartModel();
    for (std::uint32_t i = 0; i < N - F; ++i) {
        text_buf[i] = 0x20;
    }
    // The last F ring bytes start as zero at every Decode,
    // so a damaged stream that refers to them sees the same bytes on every call.
    for (std::uint32_t i = N - F; i < N; ++i) {
        text_buf[i] = 0;
    }

    // The hot loop keeps the ring position and the output count in locals; the fields
    // are brought up to date before returning.
    std::uint32_t r = N - F;
    std::uint32_t count = 0;
    std::uint8_t* const out_bytes = out_data;
    const std::uint32_t wanted = text_size;
    while (count < wanted) {
        const std::uint32_t code = DecodeChar();
        if (code < 256) {
            const auto byte = static_cast<std::uint8_t>(code);
            out_bytes[count++] = byte;
            text_buf[r] = byte;
            r = (r + 1) & kRingMask;
        } else {
            const std::uint32_t p = DecodePosition();
            const std::uint32_t start = (r - p - 1) & kRingMask;
            const std::uint32_t match_length = code - 253;
            // Byte by byte, so a match may overlap the bytes it produces.
            for (std::uint32_t k = 0; k < match_length; ++k) {
                const std::uint8_t byte = text_buf[(start + k) & kRingMask];
                out_bytes[count++] = byte;
                text_buf[r] = byte;
                r = (r + 1) & kRingMask;
            }
        }
    }
    out_count = count;
    return out_count;
}
