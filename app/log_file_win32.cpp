#include <shlobj.h>
#include <windows.h>

#include <string>

#include "app/log_file.h"

namespace {

std::string ErrorText(const char* what) {
    return std::string(what) + ": error " + std::to_string(GetLastError());
}

class CWin32LogFile final : public ILogFile {
public:
    explicit CWin32LogFile(HANDLE file) : m_file(file) {}
    ~CWin32LogFile() override { CloseHandle(m_file); }

    CWin32LogFile(const CWin32LogFile&) = delete;
    CWin32LogFile& operator=(const CWin32LogFile&) = delete;

    void SeekToEnd() override {
        // With the high half asked for, INVALID_SET_FILE_POINTER is also a valid low half
        // of a position past 4 GiB; only the error code tells them apart.
        LONG high = 0;
        SetLastError(NO_ERROR);
        if (SetFilePointer(m_file, 0, &high, FILE_END) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR) {
            throw CLogFileError(ErrorText("log file seek"));
        }
    }

    void Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(m_file, data, piece, &written, nullptr) || written == 0) {
                throw CLogFileError(ErrorText("log file write"));
            }
            data += written;
            size -= written;
        }
    }

    void Flush() override {
        if (!FlushFileBuffers(m_file)) {
            throw CLogFileError(ErrorText("log file flush"));
        }
    }

private:
    HANDLE m_file;
};

class CWin32LogFileSystem final : public ILogFileSystem {
public:
    std::optional<std::string> DocumentsFolder() override {
        char folder[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, FALSE)) {
            return std::nullopt;
        }
        return std::string(folder);
    }

    std::string JoinPath(const std::string& folder, const std::string& fileName) override {
        return folder + "\\" + fileName;
    }

    std::unique_ptr<ILogFile> OpenExclusive(const std::string& path) override {
        // Inheritable, as the program has always opened it; no sharing at all while open.
        SECURITY_ATTRIBUTES inheritable{};
        inheritable.nLength = sizeof(inheritable);
        inheritable.bInheritHandle = TRUE;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return std::make_unique<CWin32LogFile>(file);
    }
};

}  // namespace

ILogFileSystem& SystemLogFileSystem() {
    static CWin32LogFileSystem fileSystem;
    return fileSystem;
}
