#pragma once

#include <windows.h>

// One updater at a time in a session. The writer's device is opened shared, so two
// updaters could both drive one writer and interleave their packets in its flash. The
// first instance holds a named mutex and records which of its threads runs the dialog;
// a later one finds that dialog through the record, brings it to the front and ends
// without going near the writer.
class CSingleInstance {
public:
    CSingleInstance() = default;
    // The first instance gives up its place when it ends.
    ~CSingleInstance();

    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Takes the session's one place, recording this thread as the one that runs the
    // dialog. False when another instance has it. When the place cannot be made at all,
    // true: the program then runs as it always did.
    bool Claim();
    // In an instance whose Claim failed: restores the first instance's dialog when it
    // is minimised and brings it, or the box it shows, to the front. Gives up after a
    // short wait when that dialog is not (yet) to be found.
    void BringFirstToFront() const;

    // The names of the session's objects: the mutex that holds the place, and the
    // shared record of where the first instance's dialog runs.
    static constexpr const wchar_t* MUTEX_NAME = L"Local\\SolenneBrisaUpdate.OneUpdaterAtATime";
    static constexpr const wchar_t* RECORD_NAME = L"Local\\SolenneBrisaUpdate.FirstUpdaterDialog";

private:
    HANDLE m_mutex = nullptr;
    HANDLE m_record = nullptr;
};
