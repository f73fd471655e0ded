#include "update/recording_host.h"

void CRecordingHost::OpenLog() {
    calls.push_back({"OpenLog", "", "", 0});
}
void CRecordingHost::LogLine(const char* text) {
    calls.push_back({"LogLine", text, "", 0});
}
void CRecordingHost::CloseLog() {
    calls.push_back({"CloseLog", "", "", 0});
}
void CRecordingHost::SetStatus(const char* text) {
    calls.push_back({"SetStatus", text, "", 0});
}
void CRecordingHost::RestoreStatus() {
    calls.push_back({"RestoreStatus", "", "", 0});
}
void CRecordingHost::FinishDialog() {
    calls.push_back({"FinishDialog", "", "", 0});
}
void CRecordingHost::ShowNotice(const char* text) {
    calls.push_back({"ShowNotice", text, "", 0});
}

void CRecordingHost::MessageOk(const char* text, const char* caption, std::uint32_t icon) {
    calls.push_back({"MessageOk", text, caption, icon});
}

bool CRecordingHost::AskYesNo(const char* text, const char* caption) {
    calls.push_back({"AskYesNo", text, caption, 0x24});
    if (answers.empty()) {
        return false;
    }
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

std::vector<CRecordingHost::SCall> CRecordingHost::CallsOf(const std::string& operation) const {
    std::vector<SCall> matching;
    for (const SCall& call : calls) {
        if (call.operation == operation) {
            matching.push_back(call);
        }
    }
    return matching;
}

std::vector<std::string> CRecordingHost::LogLines() const {
    std::vector<std::string> lines;
    for (const SCall& call : CallsOf("LogLine")) {
        lines.push_back(call.text);
    }
    return lines;
}
