#pragma once

#include "app/win32/win_app.h"

// The application: its instance start-up runs the main dialog modally and returns
// FALSE, so the program ends when the dialog does. While one updater runs in the
// session, another one only brings it to the front (CSingleInstance).
class CTesselUpdate100App final : public CWinApp {
public:
    BOOL InitInstance() override;
};
