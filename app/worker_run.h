#pragma once

#include <exception>
#include <functional>
#include <thread>

#include "app/dialog_thread.h"
#include "app/main_dialog.h"

// Runs the "&Go!" handler's update on a worker thread, so that the dialog's thread stays
// free for its messages. Every call the run makes of its host, of the link's notice box
// and of the progress sink is carried to the dialog's thread and waited for there: the
// run sees the dialog exactly as it would on one thread, in the same order, and an
// exception that a host call raises (the log file's) reaches the run as it would there.
class CWorkerRun final {
public:
    CWorkerRun(CMainDialog& dialog, IDialogThread& dialogThread);
    // Waits for the worker, which has ended by then: the dialog does not end during a run.
    ~CWorkerRun();

    CWorkerRun(const CWorkerRun&) = delete;
    CWorkerRun& operator=(const CWorkerRun&) = delete;

    // On the dialog's thread. Starts one run; false, with nothing done, while a run is in
    // progress. The environment must stay valid until the run is over; its progress sink,
    // when there is one, is called on the dialog's thread. `ended` is called on the
    // dialog's thread when the run is over, just before the dialog takes an end that the
    // run asked for. When no thread can be started, the run takes place here instead.
    bool Start(const SJobEnvironment& environment, std::function<void()> ended);

private:
    class CCarrier;

    void Work(SJobEnvironment environment);
    void Finish(const std::exception_ptr& escaped);

    CMainDialog& m_dialog;
    IDialogThread& m_dialogThread;
    std::function<void()> m_ended;
    std::thread m_worker;
};
