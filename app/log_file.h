#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// The log-file seam: the Documents folder and one exclusive write handle on a file in
// it. POSIX: log_file_posix.cpp; Windows: log_file_win32.cpp. Paths are byte strings:
// UTF-8 on Windows, whatever the ANSI code page, and of any length.

// A positioning, write or flush failure on an open log file. It is the one failure of a
// run that travels as an exception: it abandons the run and the dialog reports it.
class CLogFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An open log file. Destroying it closes the file, which commits what was written.
class ILogFile {
public:
    virtual ~ILogFile() = default;
    // Moves the write position to the end of the file. Throws CLogFileError on failure.
    virtual void SeekToEnd() = 0;
    // Writes all `size` bytes at the write position. Throws CLogFileError on failure,
    // including a write that takes only part of the bytes.
    virtual void Write(const char* data, std::size_t size) = 0;
    // Commits what was written to the file. Throws CLogFileError on failure.
    virtual void Flush() = 0;
};

class ILogFileSystem {
public:
    virtual ~ILogFileSystem() = default;
    // The current user's Documents folder, without creating it; nothing when there is
    // none.
    virtual std::optional<std::string> DocumentsFolder() = 0;
    // `folder` and `fileName` joined with the platform's separator.
    virtual std::string JoinPath(const std::string& folder, const std::string& fileName) = 0;
    // Opens `path` for writing: created when missing, its contents kept, shared with
    // nobody while open (not even a reader). Null when it cannot be opened, for
    // whatever reason (held by another program, no permission, bad path); nothing is
    // reported.
    virtual std::unique_ptr<ILogFile> OpenExclusive(const std::string& path) = 0;
};

// The platform's file system.
ILogFileSystem& SystemLogFileSystem();
