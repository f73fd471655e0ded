#include "app/win32/taskbar_progress.h"

CTaskbarProgress::~CTaskbarProgress() {
    if (m_taskbar != nullptr) {
        m_taskbar->Release();
    }
    if (m_comStarted) {
        CoUninitialize();
    }
}

bool CTaskbarProgress::Connect() {
    if (m_connectTried) {
        return m_taskbar != nullptr;
    }
    // Asked for once, at the first run, when the button surely exists.
    m_connectTried = true;
    m_comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    void* taskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                   &taskbar))) {
        m_taskbar = static_cast<ITaskbarList3*>(taskbar);
        if (FAILED(m_taskbar->HrInit())) {
            m_taskbar->Release();
            m_taskbar = nullptr;
        }
    }
    return m_taskbar != nullptr;
}

void CTaskbarProgress::Begin(HWND dialog) {
    m_dialog = dialog;
    if (Connect()) {
        m_taskbar->SetProgressState(m_dialog, TBPF_NORMAL);
        m_taskbar->SetProgressValue(m_dialog, 0, 1);
    }
}

void CTaskbarProgress::Progress(std::uint64_t done, std::uint64_t total) {
    if (m_taskbar != nullptr) {
        m_taskbar->SetProgressValue(m_dialog, done, total);
    }
}

void CTaskbarProgress::Failed() {
    if (m_taskbar != nullptr) {
        m_taskbar->SetProgressState(m_dialog, TBPF_ERROR);
    }
}

void CTaskbarProgress::End() {
    if (m_taskbar != nullptr) {
        m_taskbar->SetProgressState(m_dialog, TBPF_NOPROGRESS);
    }
}
