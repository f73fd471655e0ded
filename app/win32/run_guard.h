#pragma once

#include <windows.h>

// What the system is asked while a run is in progress: keep the PC awake, and have a
// shutdown or log-off wait with a reason the user can read, since a writer cut off
// while it is being programmed is left unable to start.
class CRunGuard {
public:
    static constexpr const wchar_t* SHUTDOWN_REASON = L"Updating the writer. Do not turn off the computer.";

    // On the dialog's thread, whose execution state the request belongs to.
    void Begin(HWND dialog);
    void End();

private:
    HWND m_dialog = nullptr;
    bool m_reasonShown = false;
};
