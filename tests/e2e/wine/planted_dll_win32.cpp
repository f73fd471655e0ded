// uxtheme.dll for the Wine test: a DLL of a system name left beside the program, as a
// web page can leave one in the Downloads folder. When anything loads it, it leaves the
// file "<its own path>.loaded" and refuses to stay loaded.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    constexpr DWORD PATH_ROOM = 1024;
    wchar_t path[PATH_ROOM + 8];
    const DWORD length = GetModuleFileNameW(self, path, PATH_ROOM);
    if (length > 0 && length < PATH_ROOM) {
        lstrcpyW(path + length, L".loaded");
        const HANDLE marker =
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE) {
            CloseHandle(marker);
        }
    }
    return FALSE;
}
