#pragma once

#include <cstdint>
#include <optional>

#include "images/resource_source.h"

// Length and CRC-32 register of each raw image the build packed, from the source
// that image-records generates at build time. Shared by the POSIX resource table and
// the Windows resources, so both builds vouch for the same images.
std::optional<SImageRecord> BuiltInImageRecord(std::uint32_t id);
