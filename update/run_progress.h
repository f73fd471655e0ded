#pragma once

#include <cstdint>

#include "update/progress_sink.h"
#include "usb/transfer_observer.h"

// One run's progress, for an optional sink. Each stage due weighs twice its image's
// length: once for sending it and once for reading it back, each measured as a share
// of what the attempt sends or reads (a boot layout is larger than its image), so the
// bar moves at the pace of the transfers. A retry starts its stage's share again from
// nothing, so the bar holds until the retry passes where the last attempt had got to.
// The last unit of each stage waits for that stage's verification.
class CRunProgress final : public ITransferObserver {
public:
    enum class EStage { Boot, Application };

    explicit CRunProgress(IProgressSink* sink) : m_sink(sink) {}

    // The stages the run will go through, by the lengths of their images (0: not due).
    void Plan(std::uint32_t bootLength, std::uint32_t applicationLength);
    // A stage's attempt begins.
    void BeginAttempt(EStage stage);
    // The writer has taken `done` of the attempt's `total` download bytes.
    void ChunkTaken(std::uint32_t done, std::uint32_t total) override;
    // `done` of the attempt's `total` read-back bytes have arrived.
    void ReadBack(std::uint32_t done, std::uint32_t total);
    // The stage's image read back and matched.
    void Verified(EStage stage);
    // The run failed; the sink hears of it before the box.
    void Failed();

private:
    std::uint64_t Base(EStage stage) const { return stage == EStage::Boot ? 0 : 2ull * m_bootLength; }
    std::uint64_t Weight(EStage stage) const {
        return 2ull * (stage == EStage::Boot ? m_bootLength : m_applicationLength);
    }
    // Moves the bar to `position` within the current stage, never back and never onto
    // the stage's last unit.
    void MoveWithinStage(std::uint64_t position);
    void Report(std::uint64_t done);

    IProgressSink* m_sink;
    std::uint64_t m_bootLength = 0;
    std::uint64_t m_applicationLength = 0;
    std::uint64_t m_total = 0;
    std::uint64_t m_reported = 0;
    bool m_told = false;
    EStage m_stage = EStage::Boot;
};
