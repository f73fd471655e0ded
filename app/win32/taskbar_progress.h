#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "update/progress_sink.h"

// The run's progress on the dialog's taskbar button: a normal bar while the run goes
// on, the error state once it has failed, no bar when it is over. Without a taskbar
// object (an older or stripped shell) it shows nothing and the run goes on as ever.
// Used on the dialog's thread only.
class CTaskbarProgress final : public IProgressSink {
public:
    CTaskbarProgress() = default;
    ~CTaskbarProgress() override;

    CTaskbarProgress(const CTaskbarProgress&) = delete;
    CTaskbarProgress& operator=(const CTaskbarProgress&) = delete;

    // A run starts: an empty bar on the button of `dialog`.
    void Begin(HWND dialog);
    void Progress(std::uint64_t done, std::uint64_t total) override;
    void Failed() override;
    // The run is over: no bar.
    void End();

private:
    bool Connect();

    HWND m_dialog = nullptr;
    ITaskbarList3* m_taskbar = nullptr;
    bool m_comStarted = false;
    bool m_connectTried = false;
};
