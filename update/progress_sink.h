#pragma once

#include <cstdint>

// Where a run tells how far it has got, for a progress bar. Optional: a run without a
// sink sends the writer exactly what it sends with one.
class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // `done` of `total` (total > 0). Within one run `done` never goes back, and it is
    // `total` only once the last stage has been verified.
    virtual void Progress(std::uint64_t done, std::uint64_t total) = 0;
    // The run has failed: told before the box that reports it.
    virtual void Failed() = 0;
};
