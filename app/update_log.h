#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "app/log_file.h"

// The run's log: a header line when a run opens it, one line per event, an exit line
// when the run ends; the file in the Documents folder is only ever appended to. Every
// line starts with the local time, "March 07, 2016  18:49:30", month names in English
// whatever the locale.
//
// A positioning, write or flush failure propagates as CLogFileError and leaves the log
// open: the next run neither reopens the file nor writes a header, and writes through
// the handle that is still open.
class CUpdateLog {
public:
    using TimeSource = std::function<std::tm()>;

    static constexpr const char* FILE_NAME = "CVUpdate.log";

    // `now` gives the local time of each line; by default the system's local time.
    explicit CUpdateLog(ILogFileSystem& fileSystem, TimeSource now = LocalTimeNow);
    // Closes a still-open file without an exit line.
    ~CUpdateLog();

    CUpdateLog(const CUpdateLog&) = delete;
    CUpdateLog& operator=(const CUpdateLog&) = delete;

    // Opens the file and writes the header line "<time> - <title> Server: Build: <build>".
    // Nothing when the log is open already, when there is no Documents folder or when
    // the file cannot be opened; the log then stays closed for this run.
    void OpenLog(const std::string& title, const std::string& buildString);
    // Appends "<time> - <text>" and flushes; the text is written as it is, line breaks
    // included. Nothing while the log is closed.
    void LogLine(const char* text);
    // Appends "<time> - Exiting" and closes the file when the log is open; the log is
    // closed afterwards in every case but a failed write of that line.
    void CloseLog();
    bool IsOpen() const { return m_open; }

    // The system's local time now.
    static std::tm LocalTimeNow();

private:
    void WriteLine(const std::string& line);

    ILogFileSystem& m_fileSystem;
    TimeSource m_now;
    std::unique_ptr<ILogFile> m_file;
    bool m_open = false;
};

// "%B %d, %Y  %H:%M:%S" as the POSIX locale formats it, from a fixed English month
// table; empty when `time` holds no valid month.
std::string FormatLogTimestamp(const std::tm& time);
