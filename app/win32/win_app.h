#pragma once

#include <windows.h>

class CDialog;

// The least of an application framework: one global application object, registered by
// its construction during static initialisation, whose instance start-up WinMain calls.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Instance start-up. Returning FALSE ends the program without a message loop.
    virtual BOOL InitInstance() { return FALSE; }
    // The message loop, run only when InitInstance returned TRUE; its exit code.
    virtual int Run();

    // The application object, or null before static initialisation made it.
    static CWinApp* Current();

    CDialog* m_pMainWnd = nullptr;
};
