#pragma once

#include <cstdint>

// Deterministic pseudo-random numbers for the stand-in images (SplitMix64): the same
// seed gives the same image on every machine and compiler, which std::*_distribution
// does not promise.
class CStandInRandom {
public:
    explicit CStandInRandom(std::uint64_t seed) : m_state(seed) {}

    std::uint32_t Next() {
        m_state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = m_state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
    }

    // A value in [0, bound); bound must not be 0. The slight bias does not matter here.
    std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }

    // A value in [low, high].
    std::uint32_t Between(std::uint32_t low, std::uint32_t high) { return low + Below(high - low + 1); }

    bool Percent(std::uint32_t percent) { return Below(100) < percent; }

private:
    std::uint64_t m_state;
};
