#include "app/win32/single_instance.h"

#include <cstring>
#include <cwchar>

namespace {

// Where the first instance's dialog runs: its process and the thread of its message loop.
struct SFirstInstance {
    DWORD processId;
    DWORD threadId;
};

// How long a later instance looks for the first one's dialog, which may still be being
// made when the user starts the program twice in quick succession.
constexpr DWORD FIND_ATTEMPTS = 40;
constexpr DWORD FIND_PAUSE_MS = 50;

bool ReadRecord(SFirstInstance& first) {
    const HANDLE record = OpenFileMappingW(FILE_MAP_READ, FALSE, CSingleInstance::RECORD_NAME);
    if (record == nullptr) {
        return false;
    }
    bool read = false;
    if (const void* view = MapViewOfFile(record, FILE_MAP_READ, 0, 0, sizeof(SFirstInstance))) {
        std::memcpy(&first, view, sizeof(first));
        UnmapViewOfFile(view);
        read = first.threadId != 0;
    }
    CloseHandle(record);
    return read;
}

struct SDialogSearch {
    DWORD processId;
    HWND found;
};

// The main dialog is the thread's visible top-level dialog that nothing owns; its boxes
// and the About box are owned by it.
BOOL CALLBACK MatchMainDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<SDialogSearch*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (processId == search->processId && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr &&
        std::wcscmp(className, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindFirstDialog() {
    SFirstInstance first{};
    if (!ReadRecord(first)) {
        return nullptr;
    }
    SDialogSearch search{first.processId, nullptr};
    EnumThreadWindows(first.threadId, MatchMainDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

CSingleInstance::~CSingleInstance() {
    if (m_record != nullptr) {
        CloseHandle(m_record);
    }
    if (m_mutex != nullptr) {
        CloseHandle(m_mutex);
    }
}

bool CSingleInstance::Claim() {
    // Only its existence counts, so the mutex is never waited for; the place is free
    // again once the first instance's handle goes with its process.
    m_mutex = CreateMutexW(nullptr, FALSE, MUTEX_NAME);
    if (m_mutex == nullptr) {
        return true;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m_mutex);
        m_mutex = nullptr;
        return false;
    }
    m_record = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SFirstInstance),
                                  RECORD_NAME);
    if (m_record != nullptr) {
        if (void* view = MapViewOfFile(m_record, FILE_MAP_WRITE, 0, 0, sizeof(SFirstInstance))) {
            const SFirstInstance self{GetCurrentProcessId(), GetCurrentThreadId()};
            std::memcpy(view, &self, sizeof(self));
            UnmapViewOfFile(view);
        }
    }
    return true;
}

void CSingleInstance::BringFirstToFront() const {
    HWND dialog = nullptr;
    for (DWORD attempt = 0; attempt < FIND_ATTEMPTS && dialog == nullptr; ++attempt) {
        if (attempt != 0) {
            Sleep(FIND_PAUSE_MS);
        }
        dialog = FindFirstDialog();
    }
    if (dialog == nullptr) {
        return;
    }
    // Asynchronous, so a first instance that is slow to answer cannot hold this one.
    if (IsIconic(dialog)) {
        ShowWindowAsync(dialog, SW_RESTORE);
    }
    // A box the dialog shows is what the user has to answer, so it goes in front.
    SetForegroundWindow(GetLastActivePopup(dialog));
}
