#pragma once

#include <cstdint>

// What each build realises of the main dialog's window: the Win32 dialog, the console
// updater, a recording surface in tests. CMainDialog holds the behaviour above it.
class IDialogSurface {
public:
    // Box flags as the platform's message box takes them.
    static constexpr std::uint32_t BOX_STOP = 0x10;
    static constexpr std::uint32_t BOX_INFORMATION = 0x40;
    static constexpr std::uint32_t BOX_YES_NO_QUESTION = 0x24;

    virtual ~IDialogSurface() = default;
    // The window caption.
    virtual void SetCaption(const char* text) = 0;
    // The whole text of the status box.
    virtual void SetStatusText(const char* text) = 0;
    // Modal box owned by the dialog with one OK button; `flags` carries the icon (0x10
    // stop, 0x40 information, 0 none). Returns when the user has closed it.
    virtual void ShowMessage(const char* text, const char* caption, std::uint32_t flags) = 0;
    // Modal box with Yes and No buttons and the question icon (flags 0x24); true only
    // for Yes.
    virtual bool AskYesNo(const char* text, const char* caption) = 0;
    // Ends the dialog with `result` once the current handler has returned.
    virtual void EndDialog(int result) = 0;
};
