#pragma once

#include <windows.h>

// The least of a modal dialog class over DialogBoxParamA: the template id, the owner,
// the window once it exists, and the hooks a dialog overrides. Messages a hook does not
// handle go to the system's default dialog processing.
class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog() = default;

    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; its result, or -1 when it could not be created.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    // Binds controls to members; called by the base OnInitDialog.
    virtual void DoDataExchange() {}
    // TRUE lets the system give the focus to the first control in tab order.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // WM_COMMAND other than IDOK and IDCANCEL; true when handled.
    virtual bool OnCommand(WORD id, WORD notification);
    // Any other message: true when handled, with the dialog procedure's `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    // Ends the dialog with `result` once the current handler has returned.
    void EndDialog(int result);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_parent;
};
