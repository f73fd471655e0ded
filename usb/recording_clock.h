#pragma once

#include <cstdint>
#include <vector>

#include "usb/clock.h"

// Test clock: records each pause instead of waiting.
class CRecordingClock final : public IClock {
public:
    void Pause(std::uint32_t milliseconds) override { pauses.push_back(milliseconds); }

    std::uint64_t Total() const {
        std::uint64_t total = 0;
        for (std::uint32_t pause : pauses) {
            total += pause;
        }
        return total;
    }

    std::vector<std::uint32_t> pauses;
};
