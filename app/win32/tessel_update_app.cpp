#include "app/win32/tessel_update_app.h"

#include "app/win32/tessel_update_dlg.h"

BOOL CTesselUpdate100App::InitInstance() {
    CTesselUpdate100Dlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

// The one application object, made during static initialisation.
CTesselUpdate100App theApp;
