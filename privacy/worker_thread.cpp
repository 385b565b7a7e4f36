#include "worker_thread.h"

#include <system_error>

WorkerThread::~WorkerThread() {
    Stop();
}

bool WorkerThread::Start(std::uint32_t argument) {
    Stop();
    m_stop = std::stop_source();
    {
        std::lock_guard lock(m_waitMutex);
        m_stopping = false;
    }
    m_exitCode.store(kNoExitCode, std::memory_order_relaxed);
    try {
        m_thread = std::thread(&WorkerThread::Entry, this, argument);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

std::uint32_t WorkerThread::Stop() {
    if (!m_thread.joinable()) {
        return m_exitCode.load(std::memory_order_relaxed);
    }
    m_stop.request_stop();
    {
        std::lock_guard lock(m_waitMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_thread = std::thread();
    return m_exitCode.load(std::memory_order_relaxed);
}

bool WorkerThread::WaitForStop(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_waitMutex);
    return m_wake.wait_for(lock, duration, [this] { return m_stopping; });
}

void WorkerThread::Entry(WorkerThread* self, std::uint32_t argument) {
    std::uint32_t code = kNoExitCode;
    // An exception must not leave the thread: it would end the whole program.
    try {
        self->OnStart();
        code = self->Run(argument);
        self->OnExit();
    } catch (...) {
        code = kNoExitCode;
    }
    self->m_exitCode.store(code, std::memory_order_relaxed);
}
