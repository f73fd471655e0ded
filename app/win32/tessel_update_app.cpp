#include "app/win32/tessel_update_app.h"

#include "app/win32/single_instance.h"
#include "app/win32/tessel_update_dlg.h"

BOOL CTesselUpdate100App::InitInstance() {
    // A second updater brings the first one forward and ends, with exit code 0: what
    // the user asked for, an updater in front, is there.
    CSingleInstance instance;
    if (!instance.Claim()) {
        instance.BringFirstToFront();
        return FALSE;
    }
    CTesselUpdate100Dlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

// The one application object, made during static initialisation.
CTesselUpdate100App theApp;
