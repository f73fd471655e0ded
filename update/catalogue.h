#pragma once

#include <cstdint>
#include <span>

// What this build knows of the writers it can meet: one row per machine type, with the
// firmware versions and image ids the build carries for the types it serves.
struct SMachineInfo {
    std::uint32_t type;
    const char* name;
    std::uint32_t bootVersion;  // new layout
    std::uint32_t bootBuild;
    std::uint32_t appVersion;       // old layout below type 16, new layout for 16 and 17; 0 = none
    std::uint32_t appBuild;         // new layout only
    std::uint32_t bootModeVersion;  // shown for a writer that answers from its boot loader
    std::int32_t appBeta;           // old layout only; 0 = a release
    std::uint32_t reserved1;
    std::uint32_t pictureId;  // carried, never loaded
    std::uint32_t reserved3;
    std::uint32_t reserved4;
    std::uint32_t appImageId;   // 0 = no application image: the stage is skipped
    std::uint32_t bootImageId;  // 0 = no boot image: the stage is skipped
};

constexpr std::uint32_t CATALOGUE_SIZE = 18;
// Types 16 and 17.
constexpr std::uint32_t SERVED_TYPE_MASK = 0x18000;

// The catalogue row of `type`. A type above 17 (the link holds such a type as 18) has
// no row and gets the "Unknown" row, so no lookup reads past the table.
const SMachineInfo& LookupMachine(std::uint32_t type);

// The served-models list, terminator row (empty name) included.
std::span<const SMachineInfo> ServedModels();

// A type is served when it is from 1 to 17 and bit type - 1 of the mask is set.
bool IsServedType(std::uint32_t type, std::uint32_t mask);

// Types 16 and 17 use the new version layout; every other type the old one.
inline bool UsesNewLayout(std::uint32_t type) {
    return type == 16 || type == 17;
}
