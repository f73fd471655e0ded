// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include <optional>
#include <string>

#include "app/log_file.h"

namespace {

// The seam's paths are UTF-8; Windows takes them as UTF-16, so any user name and any
// folder name reach the file system as they are, whatever the ANSI code page. A text
// that does not convert (broken UTF-8, or UTF-16 with a lone surrogate) gives nothing.
std::optional<std::wstring> Utf8ToWide(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) !=
        length) {
        return std::nullopt;
    }
    return wide;
}

std::optional<std::string> WideToUtf8(const wchar_t* text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, narrow.data(), length, nullptr,
                            nullptr) != length) {
        return std::nullopt;
    }
    narrow.resize(static_cast<std::size_t>(length) - 1);  // without the terminating zero
    return narrow;
}

// The path as CreateFileW takes it at any length. Paths of MAX_PATH characters or more
// go in the extended-length form of their full path ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), which has no such limit on any Windows we run on;
// shorter ones stay as they are.
std::wstring ExtendedLengthPath(const std::wstring& path) {
    static const std::wstring EXTENDED = L"\\\\?\\";
    if (path.size() < MAX_PATH || path.compare(0, EXTENDED.size(), EXTENDED) == 0) {
        return path;
    }
    // The extended form is taken as it stands, so the full path does the normalising
    // (separators, "." and ".." parts) that the system would otherwise do.
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    if (full.compare(0, 4, L"\\\\.\\") == 0 || full.compare(0, EXTENDED.size(), EXTENDED) == 0) {
        return full;  // a path in the device namespace is taken as it is anyway
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return EXTENDED + L"UNC" + full.substr(1);  // "\\server\share\..."
    }
    return EXTENDED + full;
}

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
        // The known-folder call hands out a path of any length; no flag, so the folder
        // is not created.
        PWSTR folder = nullptr;
        const HRESULT found = SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &folder);
        std::optional<std::string> path;
        if (SUCCEEDED(found) && folder != nullptr) {
            path = WideToUtf8(folder);
        }
        CoTaskMemFree(folder);  // also on failure, and a null pointer is fine
        return path;
    }

    std::string JoinPath(const std::string& folder, const std::string& fileName) override {
        return folder + "\\" + fileName;
    }

    std::unique_ptr<ILogFile> OpenExclusive(const std::string& path) override {
        // Inheritable, as the program has always opened it; no sharing at all while open.
        SECURITY_ATTRIBUTES inheritable{};
        inheritable.nLength = sizeof(inheritable);
        inheritable.bInheritHandle = TRUE;
        const std::optional<std::wstring> widePath = Utf8ToWide(path);
        if (!widePath || widePath->empty()) {
            return nullptr;
        }
        HANDLE file = CreateFileW(ExtendedLengthPath(*widePath).c_str(), GENERIC_WRITE, 0, &inheritable,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
