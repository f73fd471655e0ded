#include "app/update_log.h"

#include <cstdio>
#include <utility>

namespace {

// The names strftime gives under the POSIX locale; taken from this table so that the
// user's locale never changes them.
constexpr const char* MONTH_NAMES[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};

constexpr std::size_t TIMESTAMP_BUFFER_SIZE = 128;

}  // namespace

std::string FormatLogTimestamp(const std::tm& time) {
    if (time.tm_mon < 0 || time.tm_mon > 11) {
        return {};
    }
    char buffer[TIMESTAMP_BUFFER_SIZE];
    const int length =
        std::snprintf(buffer, sizeof(buffer), "%s %02d, %d  %02d:%02d:%02d", MONTH_NAMES[time.tm_mon],
                      time.tm_mday, time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof(buffer)) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::tm CUpdateLog::LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    // The program has one thread, so the shared result of std::localtime is safe, and it
    // exists on every platform we build for.
    const std::tm* local = std::localtime(&now);
    return local != nullptr ? *local : std::tm{};
}

CUpdateLog::CUpdateLog(ILogFileSystem& fileSystem, TimeSource now)
    : m_fileSystem(fileSystem), m_now(std::move(now)) {}

CUpdateLog::~CUpdateLog() = default;

void CUpdateLog::OpenLog(const std::string& title, const std::string& buildString) {
    if (m_open) {
        return;
    }
    const std::optional<std::string> documents = m_fileSystem.DocumentsFolder();
    if (!documents) {
        return;
    }
    std::unique_ptr<ILogFile> file = m_fileSystem.OpenExclusive(m_fileSystem.JoinPath(*documents, FILE_NAME));
    if (!file) {
        return;
    }
    m_file = std::move(file);
    // Set before the file is touched: should positioning or the header fail, the run is
    // abandoned with the log still open, and the next run goes on writing through it.
    m_open = true;
    m_file->SeekToEnd();
    WriteLine(FormatLogTimestamp(m_now()) + " - " + title + " Server: Build: " + buildString + "\n");
}

void CUpdateLog::LogLine(const char* text) {
    if (!m_open) {
        return;
    }
    WriteLine(FormatLogTimestamp(m_now()) + " - " + (text != nullptr ? text : "") + "\n");
}

void CUpdateLog::CloseLog() {
    if (m_open) {
        const std::string line = FormatLogTimestamp(m_now()) + " - Exiting\n";
        m_file->Write(line.data(), line.size());
        m_file.reset();  // closing commits the line
    }
    m_open = false;
}

void CUpdateLog::WriteLine(const std::string& line) {
    m_file->Write(line.data(), line.size());
    m_file->Flush();
}
