#include "usb/transport_win32.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <new>
#include <vector>

namespace {

// The device interface class that the writer's driver registers.
constexpr GUID WRITER_INTERFACE_GUID = {
    0x202E68C5, 0x5980, 0x4A60, {0xB7, 0x61, 0x77, 0xC4, 0xDE, 0x9D, 0x5D, 0xBF}};

constexpr DWORD NOT_ENOUGH_MEMORY = ERROR_NOT_ENOUGH_MEMORY;  // 8

// Finds the first present writer interface and opens it; the handle or
// INVALID_HANDLE_VALUE with `error` set.
HANDLE OpenFirstWriter(DWORD& error) {
    GUID interfaceClass = WRITER_INTERFACE_GUID;
    const HDEVINFO deviceSet =
        SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (deviceSet == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return INVALID_HANDLE_VALUE;
    }

    HANDLE device = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(deviceSet, nullptr, &interfaceClass, 0, &interfaceData)) {
        error = GetLastError();
    } else {
        DWORD requiredSize = 0;
        SetupDiGetDeviceInterfaceDetailA(deviceSet, &interfaceData, nullptr, 0, &requiredSize, nullptr);
        error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            // The buffer must at least hold the fixed part, whatever the driver claims.
            std::vector<std::uint8_t> detailBuffer;
            try {
                detailBuffer.resize(
                    std::max<std::size_t>(requiredSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
            } catch (const std::bad_alloc&) {
                error = NOT_ENOUGH_MEMORY;
            }
            if (!detailBuffer.empty()) {
                auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detailBuffer.data());
                detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
                if (!SetupDiGetDeviceInterfaceDetailA(deviceSet, &interfaceData, detail,
                                                      static_cast<DWORD>(detailBuffer.size()), nullptr,
                                                      nullptr)) {
                    error = GetLastError();
                } else {
                    // Synchronous handle: every write and read blocks until the driver is done.
                    device = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
                    error = device == INVALID_HANDLE_VALUE ? GetLastError() : 0;
                }
            }
        }
    }
    SetupDiDestroyDeviceInfoList(deviceSet);
    return device;
}

// Called on a timer-queue thread when a reply is overdue: ends the blocked read of the
// thread whose handle is `parameter`.
void CALLBACK CancelOverdueRead(PVOID parameter, BOOLEAN) {
    CancelSynchronousIo(static_cast<HANDLE>(parameter));
}

}  // namespace

CDeviceSetupTransport::CDeviceSetupTransport(std::uint32_t replyTimeoutMs)
    : m_replyTimeoutMs(replyTimeoutMs), m_device(INVALID_HANDLE_VALUE) {}

CDeviceSetupTransport::~CDeviceSetupTransport() {
    Close();
    if (m_timerQueue != nullptr) {
        DeleteTimerQueueEx(m_timerQueue, INVALID_HANDLE_VALUE);
    }
}

std::uint32_t CDeviceSetupTransport::Open() {
    if (m_device != INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD error = 0;
    m_device = OpenFirstWriter(error);
    return error;
}

std::uint32_t CDeviceSetupTransport::Write(const std::uint8_t* data, std::uint32_t size) {
    if (m_device == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(m_device, data, size, &written, nullptr)) {
        GetLastError();
        return 0;
    }
    return written;
}

std::uint32_t CDeviceSetupTransport::Read(std::uint8_t* buffer, std::uint32_t capacity) {
    if (m_device == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // The handle is synchronous, so the wait is bounded from outside: a timer cancels
    // this thread's read when the reply is overdue, and the read then reports nothing.
    HANDLE thisThread = nullptr;
    HANDLE watchdog = nullptr;
    if (m_timerQueue == nullptr) {
        m_timerQueue = CreateTimerQueue();
    }
    if (m_timerQueue != nullptr &&
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thisThread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS) &&
        !CreateTimerQueueTimer(&watchdog, m_timerQueue, CancelOverdueRead, thisThread, m_replyTimeoutMs, 0,
                               WT_EXECUTEONLYONCE)) {
        watchdog = nullptr;
    }

    // Only the count of bytes matters, not the call's result: a message longer than the
    // buffer fails with ERROR_MORE_DATA yet delivers what fits.
    DWORD received = 0;
    ReadFile(m_device, buffer, capacity, &received, nullptr);

    if (watchdog != nullptr) {
        // Waits for a callback that is already running, so it cannot cancel a later read.
        DeleteTimerQueueTimer(m_timerQueue, watchdog, INVALID_HANDLE_VALUE);
    }
    if (thisThread != nullptr) {
        CloseHandle(thisThread);
    }
    return received <= capacity ? received : capacity;
}

void CDeviceSetupTransport::Control(std::uint32_t code) {
    if (m_device == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD returned = 0;
    DeviceIoControl(m_device, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

std::uint32_t CDeviceSetupTransport::Close() {
    if (m_device == INVALID_HANDLE_VALUE) {
        return 0;
    }
    const BOOL closed = CloseHandle(m_device);
    m_device = INVALID_HANDLE_VALUE;
    return closed ? 0 : GetLastError();
}
