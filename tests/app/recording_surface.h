#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/dialog_surface.h"

// Test surface: records every call in order and answers Yes/No boxes from a script
// (No when the script is used up).
class CRecordingSurface final : public IDialogSurface {
public:
    struct SCall {
        std::string operation;  // "SetCaption", "SetStatusText", "ShowMessage", "AskYesNo", "EndDialog"
        std::string text;
        std::string caption;
        std::uint32_t flags = 0;

        bool operator==(const SCall&) const = default;
    };

    void SetCaption(const char* text) override { calls.push_back({"SetCaption", text, "", 0}); }
    void SetStatusText(const char* text) override {
        status = text;
        calls.push_back({"SetStatusText", text, "", 0});
    }
    void ShowMessage(const char* text, const char* caption, std::uint32_t flags) override {
        calls.push_back({"ShowMessage", text, caption, flags});
    }
    bool AskYesNo(const char* text, const char* caption) override {
        calls.push_back({"AskYesNo", text, caption, BOX_YES_NO_QUESTION});
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    }
    void EndDialog(int result) override { calls.push_back({"EndDialog", std::to_string(result), "", 0}); }

    std::vector<SCall> CallsOf(const std::string& operation) const {
        std::vector<SCall> matching;
        for (const SCall& call : calls) {
            if (call.operation == operation) {
                matching.push_back(call);
            }
        }
        return matching;
    }

    std::vector<SCall> calls;
    std::deque<bool> answers;
    std::string status;
};
