#pragma once

#include <windows.h>

#include <functional>

#include "app/dialog_thread.h"

// The dialog's thread reached through its window: a call from the worker travels as a
// message sent to the dialog, which the dialog's thread carries out from whatever
// message loop it is in (the dialog's own, a message box's, the About box's) while the
// worker waits in SendMessage.
class CWindowDialogThread final : public IDialogThread {
public:
    // The message that carries a call; its lParam points at the std::function.
    static constexpr UINT WM_CARRIED_CALL = WM_APP + 1;

    void Attach(HWND dialog) { m_dialog = dialog; }
    void Call(const std::function<void()>& call) override;

    // The dialog's handler of WM_CARRIED_CALL.
    static void CarryOut(LPARAM call);

private:
    HWND m_dialog = nullptr;
};
