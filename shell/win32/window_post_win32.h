// The Windows program's post to the window's thread: the work waits in a
// queue, and a message to the window runs it there.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "window_post.h"

class CWindowPostWin32 final : public IWindowPost {
public:
    // The message the window passes to RunPosted.
    static constexpr UINT kMessage = WM_APP + 2;

    void SetWindow(HWND window) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window = window;
    }
    void Post(std::function<void()> work) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(work));
        if (m_window != nullptr) {
            PostMessageA(m_window, kMessage, 0, 0);
        }
    }
    // On the window's thread, at kMessage.
    void RunPosted() {
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_queue.empty()) {
                    return;
                }
                work = std::move(m_queue.front());
                m_queue.pop_front();
            }
            work();
        }
    }

private:
    std::mutex m_mutex;
    HWND m_window = nullptr;
    std::deque<std::function<void()>> m_queue;
};
