#pragma once

#include <string>

#include "app/win32/dialog.h"

// The About box, template 100: the icon, the About text in control 1003 and "OK".
class CAboutDlg final : public CDialog {
public:
    CAboutDlg(HWND owner, std::string aboutText);
    ~CAboutDlg() override = default;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;

private:
    HWND m_text = nullptr;
    std::string m_aboutText;
};
