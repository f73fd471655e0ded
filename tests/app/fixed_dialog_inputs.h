#pragma once

#include <ctime>
#include <optional>

#include "app/version_record.h"

// What a test dialog reads besides its surface and log: this build's version record and
// a local time that never changes, so two runs write the same log.
class CThisBuildVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override { return SProductVersion{{2, 14186, 0, 0}}; }
};

inline std::tm FixedLocalTime() {
    std::tm time{};
    time.tm_year = 116;
    time.tm_mday = 7;
    return time;
}
