#pragma once

#include <string>

#include "app/dialog_surface.h"
#include "app/main_dialog.h"
#include "app/win32/dialog.h"
#include "app/win32/logo_scaling.h"
#include "app/win32/run_guard.h"
#include "app/win32/taskbar_progress.h"
#include "app/win32/window_dialog_thread.h"
#include "app/worker_run.h"
#include "usb/transport_win32.h"

// The main dialog, template 102: the window side of CMainDialog, which holds the
// behaviour. It adds the system-menu About entry, the icons, painting while minimised
// and the "&Go!" click that runs one update with the Windows seams on a worker thread,
// so the window stays live; while the run is in progress a shutdown is asked to wait.
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
    void OnRunEnded();

    HWND m_picture = nullptr;
    HWND m_goButton = nullptr;
    HICON m_hIcon;
    CLogoScaling m_logo;
    CDeviceSetupTransport m_transport;
    CWindowDialogThread m_dialogThread;
    CTaskbarProgress m_taskbar;
    CRunGuard m_runGuard;
    CMainDialog m_dialog;
    // Last, so it goes first: it waits for the worker, which uses the members above.
    CWorkerRun m_run;
};
