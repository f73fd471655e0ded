#include "update/run_progress.h"

namespace {

// What `done` of `total` stands for in a `part`; all of it when `total` is 0.
std::uint64_t Share(std::uint64_t part, std::uint32_t done, std::uint32_t total) {
    if (total == 0 || done >= total) {
        return part;
    }
    return part * done / total;
}

}  // namespace

void CRunProgress::Plan(std::uint32_t bootLength, std::uint32_t applicationLength) {
    m_bootLength = bootLength;
    m_applicationLength = applicationLength;
    m_total = 2ull * bootLength + 2ull * applicationLength;
    m_reported = 0;
    m_told = false;
    Report(0);
}

void CRunProgress::BeginAttempt(EStage stage) {
    m_stage = stage;
}

void CRunProgress::ChunkTaken(std::uint32_t done, std::uint32_t total) {
    MoveWithinStage(Share(Weight(m_stage) / 2, done, total));
}

void CRunProgress::ReadBack(std::uint32_t done, std::uint32_t total) {
    const std::uint64_t half = Weight(m_stage) / 2;
    MoveWithinStage(half + Share(Weight(m_stage) - half, done, total));
}

void CRunProgress::Verified(EStage stage) {
    Report(Base(stage) + Weight(stage));
}

void CRunProgress::Failed() {
    if (m_sink != nullptr) {
        m_sink->Failed();
    }
}

void CRunProgress::MoveWithinStage(std::uint64_t position) {
    const std::uint64_t weight = Weight(m_stage);
    if (weight == 0) {
        return;
    }
    Report(Base(m_stage) + (position < weight ? position : weight - 1));
}

void CRunProgress::Report(std::uint64_t done) {
    if (m_sink == nullptr || m_total == 0 || done > m_total) {
        return;
    }
    if (done < m_reported || (done == m_reported && m_told)) {
        return;  // never back; nothing new to tell
    }
    m_reported = done;
    m_told = true;
    m_sink->Progress(done, m_total);
}
