#pragma once

#include <cstdlib>
#include <string>

// The shared test vectors beside the clone, as the test runner announces them.
// Empty when TESSEL_SHARED_DIR is not set.
inline std::string SharedDir() {
    const char* dir = std::getenv("TESSEL_SHARED_DIR");
    return dir == nullptr ? std::string() : std::string(dir);
}
