#include "single_instance_win32.h"

#include "main_dialog.h"

namespace {
constexpr const char* kDialogClass = "#32770";
}

bool CMutexSingleInstance::Claim() {
    m_mutex.reset(CreateMutexA(nullptr, TRUE, m_name));
    const DWORD error = GetLastError();
    if (m_mutex) {
        ReleaseMutex(m_mutex.get());
    }
    // Any other failure: run as the first copy.
    return error != ERROR_ALREADY_EXISTS;
}

void CMutexSingleInstance::HandOver() {
    // The main window is a dialog; the class keeps the tray's tooltip, which
    // Wine titles after the icon's tip, from being taken for it.
    const HWND running = FindWindowA(kDialogClass, kMainWindowTitle);
    if (running != nullptr) {
        ShowWindow(running, SW_SHOWDEFAULT);
        BringWindowToTop(running);
        SetForegroundWindow(running);
    }
}
