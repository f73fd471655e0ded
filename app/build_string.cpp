#include "app/build_string.h"

#include <cstdio>

std::string GetBuildString(IVersionRecord& record) {
    SProductVersion version{};
    if (const std::optional<SProductVersion> read = record.ReadProductVersion()) {
        version = *read;
    }
    const unsigned long second = version.component[1];
    const unsigned long third = version.component[2];
    const unsigned long fourth = version.component[3];

    char buffer[64];
    if (fourth != 0) {
        std::snprintf(buffer, sizeof(buffer), "%lu Beta %lu", second, fourth);
    } else if (third != 0) {
        // The dotted form ends with the fourth component, which is 0 in this branch.
        std::snprintf(buffer, sizeof(buffer), "%lu.%lu.%lu", second, third, fourth);
    } else {
        std::snprintf(buffer, sizeof(buffer), "%lu", second);
    }
    return buffer;
}
