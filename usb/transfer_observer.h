#pragma once

#include <cstdint>

// Told of each chunk of an image download that the writer took, so a progress bar
// can move while the link sends; it observes only and changes nothing that is sent.
class ITransferObserver {
public:
    virtual ~ITransferObserver() = default;
    // The writer has taken `done` of the download's `total` bytes.
    virtual void ChunkTaken(std::uint32_t done, std::uint32_t total) = 0;
};
