#include "app/win32/win_app.h"

namespace {

CWinApp* g_application = nullptr;

}  // namespace

CWinApp::CWinApp() {
    g_application = this;
}

CWinApp::~CWinApp() {
    if (g_application == this) {
        g_application = nullptr;
    }
}

int CWinApp::Run() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

CWinApp* CWinApp::Current() {
    return g_application;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* application = CWinApp::Current();
    if (application == nullptr || !application->InitInstance()) {
        return 0;
    }
    return application->Run();
}
