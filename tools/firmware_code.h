#pragma once

#include <cstdint>
#include <vector>

#include "tools/stand_in_random.h"

// Appends code-like content to an image: 32-bit little-endian words of a made-up
// instruction set with few opcodes and registers, functions with prologue, body,
// epilogue and literal pool, and recurring instruction sequences, as a compiler
// produces them.
class CCodeEmitter {
public:
    CCodeEmitter(std::vector<std::uint8_t>& image, CStandInRandom& random, std::uint32_t base_address);

    // `entries` handler addresses after the initial stack pointer; most point to one
    // default handler, as in a real table.
    void EmitVectorTable(std::uint32_t entries, std::uint32_t stack_top);
    // Functions until about `bytes` bytes have been appended.
    void EmitFunctions(std::size_t bytes);
    // A table of addresses into the image, as switch tables and string pointers are.
    void EmitAddressTable(std::uint32_t entries);

    void PutWord(std::uint32_t word);

private:
    std::uint32_t Address() const;
    std::uint32_t RandomRegister();
    std::uint32_t RandomInstruction();
    void EmitFunction();

    std::vector<std::uint8_t>& m_image;
    CStandInRandom& m_random;
    std::uint32_t m_base;
    std::vector<std::uint32_t> m_functions;  // addresses of emitted functions, for calls
    std::vector<std::vector<std::uint32_t>> m_idioms;
};
