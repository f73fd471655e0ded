#include "tools/lzari_packer.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

constexpr std::uint32_t N = 4096;
constexpr std::uint32_t F = 60;
constexpr std::uint32_t THRESHOLD = 2;
constexpr std::uint32_t NIL = N;
constexpr std::uint32_t N_CHAR = 256 - THRESHOLD + F;
constexpr std::uint32_t M = 15;
constexpr std::uint32_t Q1 = 1u << M;
constexpr std::uint32_t Q2 = 2 * Q1;
constexpr std::uint32_t Q3 = 3 * Q1;
constexpr std::uint32_t Q4 = 4 * Q1;
constexpr std::uint32_t MAX_CUM = Q1 - 1;
// Tree roots hang as right children of one pseudo-node per first byte.
constexpr std::uint32_t ROOT_BASE = N + 1;
constexpr std::uint32_t NODE_COUNT = ROOT_BASE + 256;
// The ring plus a copy of its first F - 1 bytes, so a string never wraps; the extra
// bytes let the matcher read 8 bytes at a time past the last compared byte.
constexpr std::uint32_t TEXT_SIZE = N + F - 1;
constexpr std::uint32_t TEXT_PADDING = 8;

// Position counts are fixed, so their cumulative table is built once.
struct SPositionModel {
    std::array<std::uint32_t, N + 1> cum{};
    constexpr SPositionModel() {
        for (std::uint32_t i = N; i >= 1; --i) {
            cum[i - 1] = cum[i] + 10000 / (i + 200);
        }
    }
};
constexpr SPositionModel kPositionModel;

constexpr std::uint64_t ToBigEndian(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big) {
        return word;
    }
    std::uint64_t swapped = 0;
    for (int k = 0; k < 8; ++k) {
        swapped = (swapped << 8) | ((word >> (8 * k)) & 0xFF);
    }
    return swapped;
}

// Collects bits most significant first and appends whole bytes to the output.
class CBitWriter {
public:
    explicit CBitWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    // The low `count` bits of `bits` (count <= 32), highest first.
    void PutBits(std::uint32_t bits, std::uint32_t count) {
        m_bits = (m_bits << count) | bits;
        m_count += count;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.push_back(static_cast<std::uint8_t>(m_bits >> m_count));
        }
    }

    // `count` copies of `bit`; long runs come from many pending middle-half steps.
    void PutRun(bool bit, std::uint32_t count) {
        const std::uint32_t ones = bit ? 0xFFFFFFFFu : 0u;
        for (; count >= 32; count -= 32) {
            PutBits(ones, 32);
        }
        if (count > 0) {
            PutBits(ones >> (32 - count), count);
        }
    }

    // Zero bits up to the next byte boundary; nothing when no byte is open.
    void Flush() {
        if (m_count != 0) {
            PutBits(0, 8 - m_count);
        }
    }

private:
    std::vector<std::uint8_t>& m_out;
    std::uint64_t m_bits = 0;  // only the low m_count bits (< 8 between calls) matter
    std::uint32_t m_count = 0;
};

class CLzariPacker {
public:
    explicit CLzariPacker(std::vector<std::uint8_t>& out) : m_bits(out) {}

    void Pack(std::span<const std::uint8_t> raw);

private:
    void InitTrees();
    using Node = std::uint16_t;
    static constexpr std::uint32_t Left(std::uint32_t p) { return 2 * p; }
    static constexpr std::uint32_t Right(std::uint32_t p) { return 2 * p + 1; }

    void InsertNode(std::uint32_t r);
    void DeleteNode(std::uint32_t p);
    void ReplaceChild(std::uint32_t p, std::uint32_t by);

    void StartModel();
    void UpdateModel(std::uint32_t sym);
    void EncodeChar(std::uint32_t c);
    void EncodePosition(std::uint32_t position);
    void EncodeInterval(std::uint32_t a, std::uint32_t b, std::uint32_t total);
    void Output(bool bit);
    void EncodeEnd();

    void StoreByte(std::uint32_t s, std::uint8_t c) {
        text_buf[s] = c;
        if (s < F - 1) {
            text_buf[s + N] = c;
        }
    }

    CBitWriter m_bits;

    std::array<std::uint8_t, TEXT_SIZE + TEXT_PADDING> text_buf{};
    // Children of node p: son[2p] left, son[2p + 1] right. 16-bit links keep the trees
    // in the first-level cache.
    std::array<Node, 2 * NODE_COUNT> son{};
    std::array<Node, NODE_COUNT> dad{};
    std::uint32_t match_position = 0;
    std::uint32_t match_length = 0;

    std::array<std::uint32_t, N_CHAR + 1> char_to_sym{};
    std::array<std::uint32_t, N_CHAR + 1> sym_to_char{};
    std::array<std::uint32_t, N_CHAR + 1> sym_freq{};
    std::array<std::uint32_t, N_CHAR + 1> sym_cum{};

    std::uint32_t low = 0;
    std::uint32_t high = Q4;
    std::uint32_t shifts = 0;
};

void CLzariPacker::InitTrees() {
    for (std::uint32_t i = ROOT_BASE; i < NODE_COUNT; ++i) {
        son[Right(i)] = NIL;
    }
    for (std::uint32_t i = 0; i < N; ++i) {
        dad[i] = NIL;
    }
}

// Adds r to its tree and leaves the best match for r in match_length/match_position:
// the longest common length among the nodes on r's search path, the nearest of those
// on ties. A node whose F bytes all equal r's is replaced by r.
void CLzariPacker::InsertNode(std::uint32_t r) {
    const std::uint8_t* key = text_buf.data() + r;
    std::uint64_t key_head = 0;
    std::memcpy(&key_head, key + 1, sizeof key_head);
    son[Left(r)] = NIL;
    son[Right(r)] = NIL;
    const std::uint32_t root = ROOT_BASE + key[0];
    std::uint32_t p = son[Right(root)];
    if (p == NIL) {
        son[Right(root)] = static_cast<Node>(r);
        dad[r] = static_cast<Node>(root);
        match_length = 0;
        return;
    }
    // Locals, not members: the byte loads below may alias members, which would force
    // every update out to memory.
    std::uint32_t length = 0;
    std::uint32_t position = match_position;
    for (;;) {
        // Both children are fetched while the strings are compared, and the next node
        // is picked arithmetically, so the walk waits on one load per level, not two.
        const std::uint32_t left = son[Left(p)];
        const std::uint32_t right = son[Right(p)];
        // Compare bytes 2..F eight at a time; byte-swapped words order like the
        // unsigned byte strings they hold, which gives the heading without a branch.
        const std::uint8_t* other = text_buf.data() + p;
        std::uint32_t i = 1;
        std::uint64_t a = key_head;
        std::uint64_t b = 0;
        std::memcpy(&b, other + 1, sizeof b);
        while (a == b && i + 8 < F) {
            i += 8;
            std::memcpy(&a, key + i, sizeof a);
            std::memcpy(&b, other + i, sizeof b);
        }
        const std::uint64_t a_order = ToBigEndian(a);
        const std::uint64_t b_order = ToBigEndian(b);
        const std::uint64_t diff = a_order ^ b_order;
        i += diff == 0 ? 8 : static_cast<std::uint32_t>(std::countl_zero(diff)) / 8;
        const std::uint32_t go_right = a_order > b_order ? 1u : 0u;
        const std::uint32_t distance = (r - p) & (N - 1);
        if (i >= F) {
            length = F;
            position = distance;
            break;
        }
        // Longer wins, the nearer wins a tie, lengths up to THRESHOLD never count;
        // written without branches because the outcome is close to random.
        const std::uint32_t counted = i > THRESHOLD ? i : 0;
        const bool better = counted > length || (counted == length && distance < position);
        position = better ? distance : position;
        length = counted > length ? counted : length;

        const std::uint32_t next = left ^ ((left ^ right) & (0u - go_right));
        if (next == NIL) {
            son[2 * p + go_right] = static_cast<Node>(r);
            dad[r] = static_cast<Node>(p);
            match_length = length;
            match_position = position;
            return;
        }
        p = next;
    }
    match_length = length;
    match_position = position;
    dad[r] = dad[p];
    son[Left(r)] = son[Left(p)];
    son[Right(r)] = son[Right(p)];
    dad[son[Left(p)]] = static_cast<Node>(r);
    dad[son[Right(p)]] = static_cast<Node>(r);
    ReplaceChild(p, r);
    dad[p] = NIL;
}

// Puts `by` into the link of p's parent that holds p.
void CLzariPacker::ReplaceChild(std::uint32_t p, std::uint32_t by) {
    const std::uint32_t parent = dad[p];
    son[son[Right(parent)] == p ? Right(parent) : Left(parent)] = static_cast<Node>(by);
}

// Removes p from its tree; its in-order predecessor takes its place when it has two
// children.
void CLzariPacker::DeleteNode(std::uint32_t p) {
    if (dad[p] == NIL) {
        return;
    }
    std::uint32_t q = 0;
    if (son[Right(p)] == NIL) {
        q = son[Left(p)];
    } else if (son[Left(p)] == NIL) {
        q = son[Right(p)];
    } else {
        q = son[Left(p)];
        if (son[Right(q)] != NIL) {
            do {
                q = son[Right(q)];
            } while (son[Right(q)] != NIL);
            son[Right(dad[q])] = son[Left(q)];
            dad[son[Left(q)]] = dad[q];
            son[Left(q)] = son[Left(p)];
            dad[son[Left(p)]] = static_cast<Node>(q);
        }
        son[Right(q)] = son[Right(p)];
        dad[son[Right(p)]] = static_cast<Node>(q);
    }
    dad[q] = dad[p];
    ReplaceChild(p, q);
    dad[p] = NIL;
}

void CLzariPacker::StartModel() {
    sym_cum[N_CHAR] = 0;
    for (std::uint32_t sym = N_CHAR; sym >= 1; --sym) {
        const std::uint32_t ch = sym - 1;
        char_to_sym[ch] = sym;
        sym_to_char[sym] = ch;
        sym_freq[sym] = 1;
        sym_cum[sym - 1] = sym_cum[sym] + sym_freq[sym];
    }
    sym_freq[0] = 0;
}

void CLzariPacker::UpdateModel(std::uint32_t sym) {
    if (sym_cum[0] >= MAX_CUM) {
        std::uint32_t c = 0;
        for (std::uint32_t i = N_CHAR; i > 0; --i) {
            sym_cum[i] = c;
            sym_freq[i] = (sym_freq[i] + 1) >> 1;
            c += sym_freq[i];
        }
        sym_cum[0] = c;
    }
    std::uint32_t i = sym;
    while (sym_freq[i] == sym_freq[i - 1]) {
        --i;
    }
    if (i < sym) {
        const std::uint32_t ch_i = sym_to_char[i];
        const std::uint32_t ch_sym = sym_to_char[sym];
        sym_to_char[i] = ch_sym;
        sym_to_char[sym] = ch_i;
        char_to_sym[ch_i] = sym;
        char_to_sym[ch_sym] = i;
    }
    ++sym_freq[i];
    for (std::uint32_t k = 0; k < i; ++k) {
        ++sym_cum[k];
    }
}

void CLzariPacker::Output(bool bit) {
    m_bits.PutBits(bit ? 1u : 0u, 1);
    m_bits.PutRun(!bit, shifts);
    shifts = 0;
}

// Narrows [low, high) to the count range [a, b) of total and renormalises. The largest
// product, 131072 * 32767, still fits in 32 unsigned bits.
//
// Renormalising one bit at a time sends a bit while the top bits of low and high - 1
// agree, then counts a pending bit while low is 01... and high - 1 is 10...; the
// second never brings back the first. So both runs are measured with one bit count
// each and shifted out at once, which gives the same bits as the step-by-step loop.
void CLzariPacker::EncodeInterval(std::uint32_t a, std::uint32_t b, std::uint32_t total) {
    constexpr std::uint32_t BITS = M + 2;
    const std::uint32_t range = high - low;
    std::uint32_t last = low + range * b / total - 1;  // high - 1: the range is inclusive here
    low += range * a / total;

    const auto same = static_cast<std::uint32_t>(std::countl_zero((low ^ last) << (32 - BITS)));
    const std::uint32_t sent = same < BITS ? same : BITS;
    if (sent > 0) {
        const std::uint32_t bits = low >> (BITS - sent);
        Output(((bits >> (sent - 1)) & 1u) != 0);
        m_bits.PutBits(bits & ((1u << (sent - 1)) - 1), sent - 1);
        low = (low << sent) & (Q4 - 1);
        last = ((last << sent) | ((1u << sent) - 1)) & (Q4 - 1);
    }

    const std::uint32_t low_rest = low & (Q2 - 1);
    const std::uint32_t last_rest = last & (Q2 - 1);
    const auto pending = static_cast<std::uint32_t>(std::countl_one((low_rest & ~last_rest) << 16));
    shifts += pending;
    low = (low_rest << pending) & (Q2 - 1);
    last = Q2 | (((last_rest << pending) | ((1u << pending) - 1)) & (Q2 - 1));
    high = last + 1;
}

void CLzariPacker::EncodeChar(std::uint32_t c) {
    const std::uint32_t sym = char_to_sym[c];
    EncodeInterval(sym_cum[sym], sym_cum[sym - 1], sym_cum[0]);
    UpdateModel(sym);
}

void CLzariPacker::EncodePosition(std::uint32_t position) {
    EncodeInterval(kPositionModel.cum[position + 1], kPositionModel.cum[position], kPositionModel.cum[0]);
}

void CLzariPacker::EncodeEnd() {
    ++shifts;
    Output(low >= Q1);
    m_bits.Flush();
}

void CLzariPacker::Pack(std::span<const std::uint8_t> raw) {
    StartModel();
    InitTrees();
    std::size_t next = 0;
    std::uint32_t s = 0;
    std::uint32_t r = N - F;
    for (std::uint32_t i = 0; i < r; ++i) {
        text_buf[i] = ' ';
    }
    std::uint32_t len = 0;
    for (; len < F && next < raw.size(); ++len) {
        text_buf[r + len] = raw[next++];
    }
    for (std::uint32_t i = 1; i <= F; ++i) {
        InsertNode(r - i);
    }
    InsertNode(r);
    do {
        if (match_length > len) {
            match_length = len;
        }
        if (match_length <= THRESHOLD) {
            match_length = 1;
            EncodeChar(text_buf[r]);
        } else {
            EncodeChar(255 - THRESHOLD + match_length);
            EncodePosition(match_position - 1);
        }
        const std::uint32_t step = match_length;
        std::uint32_t i = 0;
        for (; i < step && next < raw.size(); ++i) {
            DeleteNode(s);
            StoreByte(s, raw[next++]);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            InsertNode(r);
        }
        // Past the end of the input the ring keeps its old bytes; the window only
        // shrinks.
        for (; i < step; ++i) {
            DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len > 0) {
                InsertNode(r);
            }
        }
    } while (len > 0);
    EncodeEnd();
}

}  // namespace

std::vector<std::uint8_t> PackLzari(std::span<const std::uint8_t> raw) {
    if (raw.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("LZARI input of 4 GiB or more");
    }
    const auto length = static_cast<std::uint32_t>(raw.size());
    std::vector<std::uint8_t> out;
    out.reserve(4 + raw.size() / 2 + 64);
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    if (length == 0) {
        return out;
    }
    auto packer = std::make_unique<CLzariPacker>(out);
    packer->Pack(raw);
    return out;
}
