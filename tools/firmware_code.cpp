#include "tools/firmware_code.h"

#include <array>

namespace {

// Opcodes of the made-up instruction set, listed with how often a compiler would
// emit them: loads, stores, moves and adds dominate.
enum Opcode : std::uint32_t {
    OP_MOV_IMM = 0x01,
    OP_MOV = 0x02,
    OP_ADD = 0x03,
    OP_SUB = 0x04,
    OP_LDR = 0x05,
    OP_STR = 0x06,
    OP_CMP = 0x07,
    OP_BEQ = 0x08,
    OP_BNE = 0x09,
    OP_AND = 0x0A,
    OP_ORR = 0x0B,
    OP_LSL = 0x0C,
    OP_LDR_LIT = 0x0D,
    OP_BL = 0x0E,
    OP_PUSH = 0x30,
    OP_POP = 0x31,
    OP_RET = 0x32,
};

struct SWeightedOpcode {
    Opcode opcode;
    std::uint32_t weight;
};

constexpr std::array<SWeightedOpcode, 13> kBodyOpcodes{{
    {OP_LDR, 22},
    {OP_STR, 12},
    {OP_MOV_IMM, 14},
    {OP_MOV, 10},
    {OP_ADD, 10},
    {OP_SUB, 4},
    {OP_CMP, 8},
    {OP_BEQ, 5},
    {OP_BNE, 5},
    {OP_AND, 3},
    {OP_ORR, 2},
    {OP_LSL, 2},
    {OP_LDR_LIT, 3},
}};

constexpr std::uint32_t TotalWeight() {
    std::uint32_t total = 0;
    for (const auto& entry : kBodyOpcodes) {
        total += entry.weight;
    }
    return total;
}

constexpr std::uint32_t Encode(std::uint32_t opcode, std::uint32_t rd, std::uint32_t rs, std::uint32_t imm) {
    return (opcode << 26) | ((rd & 0xF) << 22) | ((rs & 0xF) << 18) | (imm & 0x3FFFF);
}

constexpr std::array<std::uint32_t, 4> kSavedRegisterMasks{0x40F0, 0x4030, 0x47F0, 0x4010};
constexpr std::array<std::uint32_t, 8> kCommonConstants{0x00000000, 0xFFFFFFFF, 0x00080000, 0x000003E8,
                                                        0x0000FFFF, 0x40020000, 0x20000000, 0x00010000};

}  // namespace

CCodeEmitter::CCodeEmitter(std::vector<std::uint8_t>& image, CStandInRandom& random,
                           std::uint32_t base_address)
    : m_image(image), m_random(random), m_base(base_address) {
    // Recurring sequences: the same few instructions for a field access, a loop
    // head or a call setup turn up all over compiled code.
    for (int k = 0; k < 96; ++k) {
        std::vector<std::uint32_t> idiom;
        const std::uint32_t length = m_random.Between(3, 9);
        for (std::uint32_t i = 0; i < length; ++i) {
            idiom.push_back(RandomInstruction());
        }
        m_idioms.push_back(std::move(idiom));
    }
}

void CCodeEmitter::PutWord(std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        m_image.push_back(static_cast<std::uint8_t>(word >> shift));
    }
}

std::uint32_t CCodeEmitter::Address() const {
    return m_base + static_cast<std::uint32_t>(m_image.size());
}

std::uint32_t CCodeEmitter::RandomRegister() {
    // r0..r3 carry arguments and results, so they are the busiest.
    return m_random.Percent(70) ? m_random.Below(4) : m_random.Between(4, 11);
}

std::uint32_t CCodeEmitter::RandomInstruction() {
    std::uint32_t pick = m_random.Below(TotalWeight());
    Opcode opcode = kBodyOpcodes[0].opcode;
    for (const auto& entry : kBodyOpcodes) {
        if (pick < entry.weight) {
            opcode = entry.opcode;
            break;
        }
        pick -= entry.weight;
    }
    const std::uint32_t rd = RandomRegister();
    const std::uint32_t rs = RandomRegister();
    switch (opcode) {
        case OP_LDR:
        case OP_STR:
            return Encode(opcode, rd, m_random.Percent(40) ? 13 : rs,
                          4 * m_random.Below(m_random.Percent(80) ? 8 : 64));
        case OP_MOV_IMM:
            return Encode(opcode, rd, 0, m_random.Percent(75) ? m_random.Below(16) : m_random.Below(0x1000));
        case OP_BEQ:
        case OP_BNE:
            return Encode(opcode, 0, 0,
                          m_random.Percent(50) ? m_random.Below(32) : 0x3FFFF - m_random.Below(32));
        case OP_LDR_LIT:
            return Encode(opcode, rd, 15, 4 * m_random.Below(64));
        case OP_LSL:
            return Encode(opcode, rd, rs, m_random.Between(1, 8));
        default:
            return Encode(opcode, rd, rs, m_random.Percent(60) ? RandomRegister() : m_random.Below(256));
    }
}

void CCodeEmitter::EmitVectorTable(std::uint32_t entries, std::uint32_t stack_top) {
    PutWord(stack_top);
    const std::uint32_t table_end = Address() + 4 * entries;
    const std::uint32_t default_handler = table_end + 0x40;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const bool own_handler = i < 6 || m_random.Percent(20);
        PutWord(own_handler ? table_end + 0x80 + 0x20 * i + 1 : default_handler + 1);
    }
}

void CCodeEmitter::EmitFunction() {
    const std::uint32_t saved = kSavedRegisterMasks[m_random.Below(kSavedRegisterMasks.size())];
    m_functions.push_back(Address());
    PutWord(Encode(OP_PUSH, 0, 0, saved));
    const std::uint32_t items = m_random.Between(4, 60);
    std::uint32_t literals = 0;
    for (std::uint32_t i = 0; i < items; ++i) {
        const std::uint32_t kind = m_random.Below(100);
        if (kind < 30) {
            for (const std::uint32_t word :
                 m_idioms[m_random.Below(static_cast<std::uint32_t>(m_idioms.size()))]) {
                PutWord(word);
            }
        } else if (kind < 38 && !m_functions.empty()) {
            // Calls go to earlier functions; the offset is relative, so each differs.
            const std::uint32_t target =
                m_functions[m_random.Below(static_cast<std::uint32_t>(m_functions.size()))];
            PutWord(Encode(OP_BL, 0, 0, ((target - Address()) >> 2) & 0x3FFFF));
        } else {
            const std::uint32_t word = RandomInstruction();
            if ((word >> 26) == OP_LDR_LIT) {
                ++literals;
            }
            PutWord(word);
        }
    }
    PutWord(Encode(OP_POP, 0, 0, saved));
    PutWord(Encode(OP_RET, 0, 14, 0));
    // Literal pool: constants and addresses the function loads.
    for (std::uint32_t i = 0; i < literals; ++i) {
        if (m_random.Percent(55)) {
            PutWord(kCommonConstants[m_random.Below(kCommonConstants.size())]);
        } else {
            PutWord(m_base + (m_random.Below(static_cast<std::uint32_t>(m_image.size()) + 1) & ~3u));
        }
    }
}

void CCodeEmitter::EmitFunctions(std::size_t bytes) {
    const std::size_t end = m_image.size() + bytes;
    while (m_image.size() < end) {
        EmitFunction();
    }
}

void CCodeEmitter::EmitAddressTable(std::uint32_t entries) {
    const std::uint32_t start = Address();
    for (std::uint32_t i = 0; i < entries; ++i) {
        PutWord(start - m_random.Between(0x100, 0x4000) * 4);
    }
}
