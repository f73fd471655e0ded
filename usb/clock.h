#pragma once

#include <cstdint>

// The clock seam: every pause of the link and the job goes through it, so tests can
// check the pauses without waiting.
class IClock {
public:
    virtual ~IClock() = default;
    virtual void Pause(std::uint32_t milliseconds) = 0;
};

// Really waits (Sleep on Windows, nanosleep on POSIX).
IClock& SystemClock();
