#pragma once

#include <string>

#include "app/dialog_surface.h"
#include "app/main_dialog.h"
#include "app/win32/dialog.h"

// The main dialog, template 102: the window side of CMainDialog, which holds the
// behaviour. It adds the system-menu About entry, the icons, painting while minimised
// and the "&Go!" click that runs one update with the Windows seams.
class CTesselUpdate100Dlg final : public CDialog, public IDialogSurface {
public:
    explicit CTesselUpdate100Dlg(HWND parent = nullptr);
    ~CTesselUpdate100Dlg() override = default;

    // IDialogSurface
    void SetCaption(const char* text) override;
    void SetStatusText(const char* text) override;
    void ShowMessage(const char* text, const char* caption, std::uint32_t flags) override;
    bool AskYesNo(const char* text, const char* caption) override;
    void EndDialog(int result) override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD notification) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnSysCommand(WPARAM command);
    void OnPaint();
    void OnGo();

    HWND m_picture = nullptr;
    HWND m_goButton = nullptr;
    HICON m_hIcon;
    CMainDialog m_dialog;
};
