#include "sim/win32/pipe_writer_server_win32.h"

#include <windows.h>
#include <winternl.h>

#include <utility>
#include <vector>

namespace {

using NtCreateSymbolicLinkObjectFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                                        PUNICODE_STRING);

constexpr ACCESS_MASK SYMBOLIC_LINK_ALL_ACCESS_MASK = 0xF0001;
// How often a writer that has stopped reading looks whether the program has gone.
constexpr DWORD CLOSE_POLL_MS = 100;

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // the names here are plain ASCII
}

UNICODE_STRING UnicodeView(std::wstring& text) {
    UNICODE_STRING view;
    view.Buffer = text.data();
    view.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    view.MaximumLength = view.Length;
    return view;
}

std::string Failure(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

}  // namespace

CPipeWriterServer::CPipeWriterServer(CSimWriter& writer, std::string devicePath, std::string pipeName)
    : m_writer(writer), m_devicePath(std::move(devicePath)), m_pipeName(std::move(pipeName)) {}

CPipeWriterServer::~CPipeWriterServer() {
    if (m_pipe != nullptr) {
        CloseHandle(m_pipe);
    }
    if (m_link != nullptr) {
        CloseHandle(m_link);  // the writer is unplugged: opening its path now fails
    }
}

bool CPipeWriterServer::Listen(std::string& error) {
    // The device setup API hands out "\\?\<path>"; the object it names lives in \??.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const FARPROC found = ntdll != nullptr ? GetProcAddress(ntdll, "NtCreateSymbolicLinkObject") : nullptr;
    if (found == nullptr) {
        error = "NtCreateSymbolicLinkObject is not available";
        return false;
    }
    const auto createLink =
        reinterpret_cast<NtCreateSymbolicLinkObjectFunction>(reinterpret_cast<void (*)()>(found));

    std::wstring linkName = L"\\??\\" + Widen(m_devicePath);
    std::wstring target = L"\\Device\\NamedPipe\\" + Widen(m_pipeName);
    UNICODE_STRING linkView = UnicodeView(linkName);
    UNICODE_STRING targetView = UnicodeView(target);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &linkView, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE link = nullptr;
    const LONG status = createLink(&link, SYMBOLIC_LINK_ALL_ACCESS_MASK, &attributes, &targetView);
    if (status < 0) {
        error =
            "NtCreateSymbolicLinkObject failed, status " + std::to_string(static_cast<unsigned long>(status));
        return false;
    }
    m_link = link;

    // No room for requests the writer has not taken: the program's write completes once
    // the writer has read the packet, as a USB transfer completes once the device takes
    // it, so a writer that stops reading blocks the write there and then.
    const std::string pipePath = "\\\\.\\pipe\\" + m_pipeName;
    constexpr DWORD REQUEST_BUFFER_SIZE = 0;
    HANDLE pipe = CreateNamedPipeA(pipePath.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, MAX_MESSAGE_SIZE,
                                   REQUEST_BUFFER_SIZE, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        error = Failure("CreateNamedPipeA");
        return false;
    }
    m_pipe = pipe;
    return true;
}

bool CPipeWriterServer::AwaitConnection(std::string& error) {
    if (!ConnectNamedPipe(m_pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        error = Failure("ConnectNamedPipe");
        return false;
    }
    return true;
}

void CPipeWriterServer::WaitUntilClosed() {
    // Looking at the pipe takes nothing from it, so the program's write stays blocked.
    DWORD waiting = 0;
    while (PeekNamedPipe(m_pipe, nullptr, 0, nullptr, &waiting, nullptr)) {
        Sleep(CLOSE_POLL_MS);
    }
}

bool CPipeWriterServer::ServeConnection(std::string& error) {
    std::vector<std::uint8_t> request(MAX_MESSAGE_SIZE);
    bool served = true;
    while (!m_writer.IsGone()) {
        if (m_requestsTaken >= m_stopReadingAfter) {
            if (m_stopped) {
                m_stopped();
                m_stopped = nullptr;
            }
            WaitUntilClosed();
            break;
        }
        DWORD received = 0;
        if (!ReadFile(m_pipe, request.data(), MAX_MESSAGE_SIZE, &received, nullptr)) {
            const DWORD reason = GetLastError();
            if (reason == ERROR_MORE_DATA) {
                // Take the rest of the message and drop it: the writer only gets what
                // fits in one packet.
                ++m_oversized;
                std::vector<std::uint8_t> rest(MAX_MESSAGE_SIZE);
                DWORD more = 0;
                while (!ReadFile(m_pipe, rest.data(), MAX_MESSAGE_SIZE, &more, nullptr) &&
                       GetLastError() == ERROR_MORE_DATA) {
                }
            } else {
                if (reason != ERROR_BROKEN_PIPE) {
                    error = "ReadFile failed, error " + std::to_string(reason);
                    served = false;
                }
                break;  // the program closed its handle
            }
        }
        ++m_requestsTaken;
        if (received == 0 || m_writer.Write(request.data(), received) == 0) {
            continue;
        }
        // One reply per request, in one message: the program reads in byte mode, so
        // two queued replies would reach it as one.
        if (const auto reply = m_writer.Read()) {
            if (m_replyDelayMs != 0) {
                Sleep(m_replyDelayMs);
            }
            DWORD written = 0;
            if (!WriteFile(m_pipe, reply->data(), static_cast<DWORD>(reply->size()), &written, nullptr)) {
                break;
            }
        }
    }
    DisconnectNamedPipe(m_pipe);
    return served;
}
