#include "responsive_wait_win32.h"

#include <memory>
#include <system_error>
#include <thread>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using EventHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

bool CResponsiveWaitWin32::Run(const std::function<void(std::stop_token)>& job) {
    std::stop_source stop;
    const EventHandle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE event = finished.get();
    std::thread worker;
    try {
        if (event != nullptr) {
            worker = std::thread([&] {
                job(stop.get_token());
                SetEvent(event);
            });
        }
    } catch (const std::system_error&) {
    }
    if (!worker.joinable()) {
        job(stop.get_token());  // no thread to be had: wait here, as before
        return true;
    }
    bool ending = false;
    // Input already seen but not yet taken counts too, so nothing waits
    // behind a message that came before the wait.
    while (!ending && MsgWaitForMultipleObjectsEx(1, &event, INFINITE, QS_ALLINPUT,
                                                  MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0) {
        MSG message{};
        while (!ending && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // For the loop that owns the run.
                PostQuitMessage(static_cast<int>(message.wParam));
                ending = true;
            } else if (!m_preTranslate(message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            ending = ending || m_ended();
        }
    }
    if (ending) {
        stop.request_stop();
    }
    worker.join();
    return !stop.stop_requested();
}
