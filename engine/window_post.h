// Hands work to the window's thread from any other: what a background job or
// a connection learns reaches the window this way, never by calling into it
// from a thread of its own.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class IWindowPost {
public:
    virtual ~IWindowPost() = default;
    // Runs the work on the window's thread, soon and in order; dropped once
    // the window is gone. Safe from any thread, at any time.
    virtual void Post(std::function<void()> work) = 0;
};

// A post that callers on other threads may keep beyond the window's life:
// they hold it by shared_ptr; the window closes it before it goes, and what
// is posted afterwards is dropped (as is all of it without a target).
class ClosablePost final : public IWindowPost {
public:
    explicit ClosablePost(IWindowPost* target) : m_target(target) {}
    void Post(std::function<void()> work) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_target != nullptr) {
            m_target->Post(std::move(work));
        }
    }
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target = nullptr;
    }

private:
    std::mutex m_mutex;
    IWindowPost* m_target;
};

// Queues the work until the test runs it: for tests without a window.
class QueuedPost final : public IWindowPost {
public:
    void Post(std::function<void()> work) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(work));
    }
    // Runs what was posted so far, on the calling thread; how many ran.
    int RunPosted() {
        std::vector<std::function<void()>> queue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            queue.swap(m_queue);
        }
        for (auto& work : queue) {
            work();
        }
        return static_cast<int>(queue.size());
    }

private:
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_queue;
};
