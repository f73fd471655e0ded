#include <windows.h>

// DLLs that the program or a system DLL on its behalf loads by name come from the system
// folder only: never from the folder the program was started from, which is often
// Downloads, holding whatever a web page put there, nor from the current folder. The
// program's imports are resolved before any of its code runs; tests/e2e/wine/check_imports.sh
// keeps them to DLLs that Windows takes from its own folder whatever lies beside the
// program.
namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

struct SDllSearchOrder {
    SDllSearchOrder() {
        // Looked up, not imported: Windows 7 has it only with update KB2533623, and a
        // missing import would keep the program from starting at all.
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC found =
            kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
        if (found != nullptr) {
            const auto restrict =
                reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
            if (restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
                return;
            }
        }
        // Without it, at least the current folder leaves the search order.
        SetDllDirectoryW(L"");
    }
};

// Made before every other object of the program with a constructor: 101 is the first
// priority a program may use.
__attribute__((init_priority(101))) const SDllSearchOrder g_dllSearchOrder;

}  // namespace
