// Threads that stay parked after their job, so that the next job runs on an
// already created thread. Every job still gets a thread of its own: a job is
// never queued behind another one, because the relays block for as long as
// their connection lives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace engine {

class WorkerPool {
public:
    // At most maxIdle threads wait for a job at any time; one that waited
    // idleLife without getting one ends.
    WorkerPool(std::size_t maxIdle, std::chrono::milliseconds idleLife);
    // Ends the idle threads and waits until every thread of the pool has
    // finished its job and left.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs entry(arg) on an idle thread, or on a new one when none is idle;
    // false when no thread could be created.
    bool Run(void (*entry)(void*), void* arg);

    std::size_t IdleThreads() const;
    // Threads alive: running a job or idle.
    std::size_t Threads() const;

private:
    struct Job {
        void (*entry)(void*) = nullptr;
        void* arg = nullptr;
    };
    struct Worker;
    static void WorkerMain(void* worker);
    // Parks the calling worker until it gets a job; false when it has to end.
    bool Park(const std::shared_ptr<Worker>& self);
    void Leave();

    const std::size_t m_maxIdle;
    const std::chrono::milliseconds m_idleLife;
    mutable std::mutex m_mutex;
    std::condition_variable m_gone;               // m_threads dropped to 0
    std::vector<std::shared_ptr<Worker>> m_idle;  // most recently parked last
    std::size_t m_threads = 0;
    bool m_closing = false;
};

// The pool every engine thread is started from; lives until the process ends.
WorkerPool& SharedWorkerPool();

}  // namespace engine
