#include "app/win32/dialog.h"

#include <exception>

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), m_parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

bool CDialog::OnCommand(WORD, WORD) {
    return false;
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) {
    return false;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        SetWindowLongPtrA(window, DWLP_USER, lParam);
    } else {
        dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (dialog == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG
    }
    // No exception may cross the system's frames: whatever a handler did not handle
    // itself is reported here and the dialog stays open.
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (const std::exception& error) {
        MessageBoxA(window, error.what(), "Error", MB_OK | MB_ICONSTOP);
    } catch (...) {
        MessageBoxA(window, "Unexpected error.", "Error", MB_OK | MB_ICONSTOP);
    }
    return TRUE;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    OnOK();
                    return TRUE;
                case IDCANCEL:
                    OnCancel();
                    return TRUE;
                default:
                    return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
            }
        default: {
            INT_PTR result = FALSE;
            return OnMessage(message, wParam, lParam, result) ? result : FALSE;
        }
    }
}
