#include "app/win32/window_dialog_thread.h"

void CWindowDialogThread::Call(const std::function<void()>& call) {
    // A window that no longer exists takes nothing; the dialog cannot end during a run,
    // so that only happens when the session ends under the program.
    SendMessageA(m_dialog, WM_CARRIED_CALL, 0, reinterpret_cast<LPARAM>(&call));
}

void CWindowDialogThread::CarryOut(LPARAM call) {
    (*reinterpret_cast<const std::function<void()>*>(call))();
}
