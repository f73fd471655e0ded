#include "app/win32/run_guard.h"

void CRunGuard::Begin(HWND dialog) {
    m_dialog = dialog;
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    m_reasonShown = ShutdownBlockReasonCreate(dialog, SHUTDOWN_REASON) != FALSE;
}

void CRunGuard::End() {
    SetThreadExecutionState(ES_CONTINUOUS);
    if (m_reasonShown) {
        ShutdownBlockReasonDestroy(m_dialog);
        m_reasonShown = false;
    }
}
