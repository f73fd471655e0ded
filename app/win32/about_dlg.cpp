#include "app/win32/about_dlg.h"

#include <utility>

#include "app/win32/resource.h"

CAboutDlg::CAboutDlg(HWND owner, std::string aboutText)
    : CDialog(IDD_ABOUTBOX, owner), m_aboutText(std::move(aboutText)) {}

void CAboutDlg::DoDataExchange() {
    m_text = GetDlgItem(m_hWnd, IDC_ABOUT_TEXT);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowTextA(m_text, m_aboutText.c_str());
    return TRUE;
}
