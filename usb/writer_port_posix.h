#pragma once

#include <string>

// Where writers are found on POSIX, and the checks that keep that place private. The
// updater's transport and writer-sim's server both use a writer-port directory only
// when it passes them, so neither talks to, binds into or removes anything another
// user planted.

// $XDG_RUNTIME_DIR/steno-writers, or /tmp/steno-writers-<uid> when XDG_RUNTIME_DIR is
// unset or empty.
std::string WriterPortDirectory();

// The outcome of a check: error 0 when the thing may be used, otherwise an errno
// value. A refusal also says what was wrong, for one line on standard error; a plain
// absence (no directory, no entry) has no reason.
struct SPortCheck {
    int error = 0;
    std::string reason;

    bool Passed() const { return error == 0; }
};

// An open descriptor on a writer-port directory that passed the check. Its entries are
// looked at and removed through the descriptor, so a path swapped after the check
// cannot lead them elsewhere.
class CPortDirectory {
public:
    CPortDirectory() = default;
    ~CPortDirectory();
    CPortDirectory(const CPortDirectory&) = delete;
    CPortDirectory& operator=(const CPortDirectory&) = delete;

    // Opens `path` without following it when it is a symbolic link, and checks that it
    // is a directory owned by the effective user with no access for group or others.
    // On failure the object stays closed.
    SPortCheck Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }

    // The first entry in byte-wise name order; ENOENT when there is none.
    SPortCheck FirstEntry(std::string& name) const;
    // Checks that entry `name` is a socket owned by the effective user; a symbolic link
    // is looked at, not followed. ENOENT without a reason when there is no such entry.
    SPortCheck CheckOwnSocket(const std::string& name) const;

private:
    int m_fd = -1;
};

// Checks that the process that listens at the other end of the connected Unix-domain
// socket `socket` runs as the effective user.
SPortCheck CheckPeerIsOwnUser(int socket);
