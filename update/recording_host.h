#pragma once

#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "update/update_host.h"
#include "usb/user_notice.h"

// Test host: records every call in order and answers AskYesNo from a script (No when
// the script is used up). It also serves as the link's notice box.
class CRecordingHost final : public IUpdateHost, public IUserNotice {
public:
    struct SCall {
        std::string operation;  // "OpenLog", "LogLine", "MessageOk", ...
        std::string text;
        std::string caption;
        std::uint32_t icon = 0;

        bool operator==(const SCall&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const SCall& call) {
            return out << call.operation << "(\"" << call.text << "\", \"" << call.caption << "\", "
                       << call.icon << ")";
        }
    };

    void OpenLog() override;
    void LogLine(const char* text) override;
    void CloseLog() override;
    void SetStatus(const char* text) override;
    void RestoreStatus() override;
    void MessageOk(const char* text, const char* caption, std::uint32_t icon) override;
    bool AskYesNo(const char* text, const char* caption) override;
    void FinishDialog() override;
    std::uint32_t AllowedTypeMask() override { return allowedTypeMask; }
    const char* ApplicationTitle() override { return applicationTitle.c_str(); }
    void ShowNotice(const char* text) override;

    // Calls of one operation, in order.
    std::vector<SCall> CallsOf(const std::string& operation) const;
    // The texts of all LogLine calls.
    std::vector<std::string> LogLines() const;

    std::vector<SCall> calls;
    std::deque<bool> answers;
    std::uint32_t allowedTypeMask = 0x18000;
    std::string applicationTitle = "Solenne/Brisa Update";
};
