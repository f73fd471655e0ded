#pragma once

#include <functional>

// The way from a run's worker thread to the dialog's thread. Win32: a message sent to
// the dialog's window; tests: a queue that the test's own thread works through.
class IDialogThread {
public:
    virtual ~IDialogThread() = default;
    // Called from the worker: carries out `call` on the dialog's thread and returns once
    // it has returned there. The dialog's thread goes on with its messages meanwhile.
    // What `call` raises is the dialog thread's to handle.
    virtual void Call(const std::function<void()>& call) = 0;
};
