#include "app/win32/tessel_update_dlg.h"

#include "app/log_file.h"
#include "app/version_record.h"
#include "app/win32/about_dlg.h"
#include "app/win32/resource.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "usb/clock.h"

namespace {

// A string of the program's own string table; empty when it is missing.
std::string LoadResourceString(UINT id) {
    char text[256] = {};
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof(text));
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

CTesselUpdate100Dlg::CTesselUpdate100Dlg(HWND parent)
    : CDialog(IDD_TESSELUPDATE100_DIALOG, parent),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_dialog(*this, SystemLogFileSystem(), SystemVersionRecord(),
               LoadResourceString(IDS_APPLICATION_TITLE)),
      m_run(m_dialog, m_dialogThread) {}

void CTesselUpdate100Dlg::DoDataExchange() {
    m_picture = GetDlgItem(m_hWnd, IDC_LOGO);
    m_goButton = GetDlgItem(m_hWnd, IDC_GO);
}

BOOL CTesselUpdate100Dlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_dialogThread.Attach(m_hWnd);
    m_logo.Fit(m_picture);

    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    const std::string aboutEntry = LoadResourceString(IDS_ABOUTBOX);
    if (systemMenu != nullptr && !aboutEntry.empty()) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutEntry.c_str());
    }
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    SetWindowTextA(m_goButton, "&Go!");
    m_dialog.Initialise();
    // No SetFocus: the system gives the focus to the first control, "&Quit".
    return TRUE;
}

void CTesselUpdate100Dlg::OnCancel() {
    m_dialog.Cancel();
}

bool CTesselUpdate100Dlg::OnCommand(WORD id, WORD notification) {
    if (id == IDC_GO && notification == BN_CLICKED) {
        OnGo();
        return true;
    }
    return false;
}

bool CTesselUpdate100Dlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) {
                return false;  // the system's own commands, Close among them
            }
            OnSysCommand(wParam);
            result = TRUE;
            return true;
        case WM_PAINT:
            if (!IsIconic(m_hWnd)) {
                return false;
            }
            OnPaint();
            result = TRUE;
            return true;
        case WM_QUERYDRAGICON:
            // One of the few messages whose answer the dialog procedure returns itself.
            result = reinterpret_cast<INT_PTR>(m_hIcon);
            return true;
        case CWindowDialogThread::WM_CARRIED_CALL:
            CWindowDialogThread::CarryOut(lParam);
            result = TRUE;
            return true;
        case WM_QUERYENDSESSION:
            if (!m_dialog.RunInProgress()) {
                return false;  // the system's default: the session may end
            }
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, FALSE);
            result = TRUE;
            return true;
        default:
            return false;
    }
}

void CTesselUpdate100Dlg::OnSysCommand(WPARAM) {
    CAboutDlg about(m_hWnd, m_dialog.AboutText());
    about.DoModal();
}

void CTesselUpdate100Dlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC context = BeginPaint(m_hWnd, &paint);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(context, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
}

void CTesselUpdate100Dlg::OnGo() {
    if (m_dialog.RunInProgress()) {
        return;  // a click made during a run does nothing, then or later
    }
    m_runGuard.Begin(m_hWnd);
    m_taskbar.Begin(m_hWnd);
    SJobEnvironment environment{m_transport, SystemClock(), nullptr, BuiltInResources(), SystemAllocator()};
    environment.progress = &m_taskbar;
    if (!m_run.Start(environment, [this] { OnRunEnded(); })) {
        OnRunEnded();
    }
}

void CTesselUpdate100Dlg::OnRunEnded() {
    m_taskbar.End();
    m_runGuard.End();
}

void CTesselUpdate100Dlg::SetCaption(const char* text) {
    SetWindowTextA(m_hWnd, text);
}

void CTesselUpdate100Dlg::SetStatusText(const char* text) {
    SetDlgItemTextA(m_hWnd, IDC_STATUS, text);
}

void CTesselUpdate100Dlg::ShowMessage(const char* text, const char* caption, std::uint32_t flags) {
    MessageBoxA(m_hWnd, text, caption, MB_OK | flags);
}

bool CTesselUpdate100Dlg::AskYesNo(const char* text, const char* caption) {
    return MessageBoxA(m_hWnd, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CTesselUpdate100Dlg::EndDialog(int result) {
    CDialog::EndDialog(result);
}
