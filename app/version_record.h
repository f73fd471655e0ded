#pragma once

#include <cstdint>
#include <optional>

// The version-record seam: the product version of the running program. Windows reads
// the executable's version resource; POSIX has the same four numbers compiled in. Both
// come from cmake/Version.cmake.

struct SProductVersion {
    std::uint16_t component[4];  // e.g. 2, 14186, 0, 0
};

class IVersionRecord {
public:
    virtual ~IVersionRecord() = default;
    // The product version, read afresh at every call; nothing when the record is
    // missing or unreadable.
    virtual std::optional<SProductVersion> ReadProductVersion() = 0;
};

// The running program's own record.
IVersionRecord& SystemVersionRecord();
