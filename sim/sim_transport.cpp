#include "sim/sim_transport.h"

#include <algorithm>
#include <cstring>

std::uint32_t CSimTransport::Open() {
    const std::uint32_t result = (m_writer != nullptr && !m_writer->IsGone()) ? 0 : NO_WRITER_ERROR;
    m_open = (result == 0);
    m_calls.push_back({ECall::Open, {}, result});
    return result;
}

std::uint32_t CSimTransport::Write(const std::uint8_t* data, std::uint32_t size) {
    const std::uint32_t written = (m_open && m_writer != nullptr) ? m_writer->Write(data, size) : 0;
    if (written == 0 && m_open && m_writer != nullptr && m_writer->LastWriteBlocked() &&
        m_timeoutClock != nullptr) {
        m_timeoutClock->Pause(REPLY_TIMEOUT_MS);  // the write blocked until the time-out
    }
    m_calls.push_back(
        {ECall::Write,
         m_recordBytes ? std::vector<std::uint8_t>(data, data + size) : std::vector<std::uint8_t>{},
         written});
    return written;
}

std::uint32_t CSimTransport::Read(std::uint8_t* buffer, std::uint32_t capacity) {
    std::vector<std::uint8_t> delivered;
    if (m_open && m_writer != nullptr) {
        if (auto reply = m_writer->Read()) {
            delivered = std::move(*reply);
            delivered.resize(std::min<std::size_t>(delivered.size(), capacity));
            std::memcpy(buffer, delivered.data(), delivered.size());
        }
    }
    // A writer that is gone fails a read at once, as an unplugged one does; only a writer
    // that is there and silent makes the read wait.
    if (delivered.empty() && m_open && m_timeoutClock != nullptr && m_writer != nullptr &&
        !m_writer->IsGone()) {
        m_timeoutClock->Pause(REPLY_TIMEOUT_MS);
    }
    const auto size = static_cast<std::uint32_t>(delivered.size());
    if (!m_recordBytes) {
        delivered.clear();
    }
    m_calls.push_back({ECall::Read, std::move(delivered), size});
    return size;
}

void CSimTransport::Control(std::uint32_t code) {
    m_calls.push_back({ECall::Control, {}, code});
}

std::uint32_t CSimTransport::Close() {
    m_open = false;
    m_calls.push_back({ECall::Close, {}, 0});
    return 0;
}

std::uint32_t CSimTransport::Count(ECall kind) const {
    return static_cast<std::uint32_t>(std::count_if(m_calls.begin(), m_calls.end(),
                                                    [kind](const SCall& call) { return call.kind == kind; }));
}
