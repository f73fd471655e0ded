#pragma once

#include <cstdint>

// Box icons as the job asks for them; the values are the platform's box flags.
constexpr std::uint32_t MESSAGE_ICON_STOP = 0x10;
constexpr std::uint32_t MESSAGE_ICON_INFORMATION = 0x40;

// What the update job needs from the main dialog. All texts are 8-bit and
// zero-terminated; the job owns them only for the call.
class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;

    // Opens the log and writes its opening line; nothing when it is open already.
    virtual void OpenLog() = 0;
    // One time-stamped line when the log is open, nothing otherwise.
    virtual void LogLine(const char* text) = 0;
    // Writes the closing line and closes the log.
    virtual void CloseLog() = 0;
    // Replaces the whole status text.
    virtual void SetStatus(const char* text) = 0;
    // Puts back the status text shown before the run.
    virtual void RestoreStatus() = 0;
    // Modal box with one OK button; returns when the user has closed it.
    virtual void MessageOk(const char* text, const char* caption, std::uint32_t icon) = 0;
    // Modal Yes/No box with the question icon; true only for Yes.
    virtual bool AskYesNo(const char* text, const char* caption) = 0;
    // Ends the main dialog as its cancel command does; the program ends after the run.
    virtual void FinishDialog() = 0;
    virtual std::uint32_t AllowedTypeMask() = 0;
    virtual const char* ApplicationTitle() = 0;
};
