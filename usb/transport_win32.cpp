#include "usb/transport_win32.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
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

// While a bounded call is overdue, the cancel is repeated this often until the call has
// returned: a cancel that arrives just before the call blocks finds nothing to cancel.
constexpr DWORD CANCEL_REPEAT_MS = 250;

// Bounds one blocking call on the synchronous device handle, made by the thread that
// creates it: once the time-out has passed, a timer-queue thread cancels that thread's
// synchronous I/O, and again every CANCEL_REPEAT_MS until the watchdog is destroyed
// after the call. A watchdog that could not be armed must not be trusted with a call.
class CCallWatchdog {
public:
    CCallWatchdog(HANDLE timerQueue, DWORD timeoutMs) : m_timerQueue(timerQueue) {
        if (timerQueue == nullptr ||
            !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &m_thread, 0,
                             FALSE, DUPLICATE_SAME_ACCESS)) {
            m_thread = nullptr;
            return;
        }
        if (!CreateTimerQueueTimer(&m_timer, timerQueue, CancelOverdueCall, this, timeoutMs, CANCEL_REPEAT_MS,
                                   WT_EXECUTEDEFAULT)) {
            m_timer = nullptr;
        }
    }

    ~CCallWatchdog() {
        m_returned.store(true);
        if (m_timer != nullptr) {
            // Waits for a callback that is already running, so none can cancel a later call.
            DeleteTimerQueueTimer(m_timerQueue, m_timer, INVALID_HANDLE_VALUE);
        }
        if (m_thread != nullptr) {
            CloseHandle(m_thread);
        }
    }

    CCallWatchdog(const CCallWatchdog&) = delete;
    CCallWatchdog& operator=(const CCallWatchdog&) = delete;

    bool Armed() const { return m_timer != nullptr; }
    // Whether the time-out passed before the call returned.
    bool Fired() const { return m_fired.load(); }

private:
    static void CALLBACK CancelOverdueCall(PVOID parameter, BOOLEAN) {
        auto* watchdog = static_cast<CCallWatchdog*>(parameter);
        if (!watchdog->m_returned.load()) {
            watchdog->m_fired.store(true);
            CancelSynchronousIo(watchdog->m_thread);
        }
    }

    HANDLE m_timerQueue;
    HANDLE m_thread = nullptr;
    HANDLE m_timer = nullptr;
    std::atomic<bool> m_returned{false};
    std::atomic<bool> m_fired{false};
};

enum class ECallOutcome { NotMade, Returned, TimedOut };

// Makes `call` on this thread under a watchdog of `timeoutMs`. NotMade, without making
// the call, when the watchdog cannot be armed: an unwatched call could block for good.
template <typename Call>
ECallOutcome CallBounded(HANDLE timerQueue, DWORD timeoutMs, Call call) {
    const CCallWatchdog watchdog(timerQueue, timeoutMs);
    if (!watchdog.Armed()) {
        return ECallOutcome::NotMade;
    }
    call();
    return watchdog.Fired() ? ECallOutcome::TimedOut : ECallOutcome::Returned;
}

}  // namespace

CDeviceSetupTransport::CDeviceSetupTransport(std::uint32_t timeoutMs)
    : m_timeoutMs(timeoutMs), m_device(INVALID_HANDLE_VALUE) {}

CDeviceSetupTransport::~CDeviceSetupTransport() {
    Close();
    if (m_timerQueue != nullptr) {
        DeleteTimerQueueEx(m_timerQueue, INVALID_HANDLE_VALUE);
    }
}

void* CDeviceSetupTransport::TimerQueue() {
    // Made once, on first use; until it exists every call counts as failed.
    if (m_timerQueue == nullptr) {
        m_timerQueue = CreateTimerQueue();
    }
    return m_timerQueue;
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
    // A writer that stops taking data would otherwise hold the write for good; a write
    // cut short by the watchdog fails like any other.
    BOOL done = FALSE;
    DWORD written = 0;
    const ECallOutcome outcome = CallBounded(
        TimerQueue(), m_timeoutMs, [&] { done = WriteFile(m_device, data, size, &written, nullptr); });
    if (outcome != ECallOutcome::Returned) {
        if (outcome == ECallOutcome::TimedOut) {
            GiveUpOnWriter();
        }
        return 0;
    }
    return done ? written : 0;
}

std::uint32_t CDeviceSetupTransport::Read(std::uint8_t* buffer, std::uint32_t capacity) {
    if (m_device == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // Only the count of bytes matters, not the call's result: a message longer than the
    // buffer fails with ERROR_MORE_DATA yet delivers what fits. An overdue reply is
    // cancelled by the watchdog and reads as nothing.
    DWORD received = 0;
    const ECallOutcome outcome = CallBounded(
        TimerQueue(), m_timeoutMs, [&] { ReadFile(m_device, buffer, capacity, &received, nullptr); });
    if (outcome != ECallOutcome::Returned) {
        if (outcome == ECallOutcome::TimedOut) {
            GiveUpOnWriter();
        }
        return 0;
    }
    return received <= capacity ? received : capacity;
}

void CDeviceSetupTransport::Control(std::uint32_t code) {
    if (m_device == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD returned = 0;
    if (CallBounded(TimerQueue(), m_timeoutMs, [&] {
            DeviceIoControl(m_device, code, nullptr, 0, nullptr, 0, &returned, nullptr);
        }) == ECallOutcome::TimedOut) {
        GiveUpOnWriter();
    }
}

void CDeviceSetupTransport::GiveUpOnWriter() {
    // A writer that let a call run out is taken for one that has gone, so that a
    // stalled writer costs a run one time-out rather than one for each call left.
    Close();
}

std::uint32_t CDeviceSetupTransport::Close() {
    if (m_device == INVALID_HANDLE_VALUE) {
        return 0;
    }
    const BOOL closed = CloseHandle(m_device);
    m_device = INVALID_HANDLE_VALUE;
    return closed ? 0 : GetLastError();
}
