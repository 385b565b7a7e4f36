#include "worker_pool.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "thread_start.h"

namespace engine {
namespace {
// Enough to absorb the ups and downs of a busy browser (three threads per
// connection) without keeping a burst's worth of stacks for good.
constexpr std::size_t kSharedMaxIdle = 128;
constexpr std::chrono::seconds kSharedIdleLife{30};
}  // namespace

// Shared by its thread and, for a moment, by the Run that hands it a job.
// Its own condition rather than the pool's, so that a job wakes exactly the
// thread it was given to. A mutex and condition rather than atomic wait:
// libstdc++ 12 can lose that wake-up off Linux.
struct WorkerPool::Worker {
    Worker(WorkerPool* owner, Job first) : pool(owner), job(first) {}
    WorkerPool* pool;
    Job job;  // set while the thread is parked, under the pool's mutex
    std::condition_variable wake;
};

WorkerPool::WorkerPool(std::size_t maxIdle, std::chrono::milliseconds idleLife)
    : m_maxIdle(maxIdle), m_idleLife(idleLife) {
    // Parking never allocates, so it cannot fail.
    m_idle.reserve(maxIdle);
}

WorkerPool::~WorkerPool() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_closing = true;
    for (const std::shared_ptr<Worker>& idle : m_idle) {
        idle->wake.notify_one();
    }
    m_gone.wait(lock, [this] { return m_threads == 0; });
}

bool WorkerPool::Run(void (*entry)(void*), void* arg) {
    std::shared_ptr<Worker> idle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_idle.empty()) {
            ++m_threads;
        } else {
            idle = std::move(m_idle.back());
            m_idle.pop_back();
            idle->job = Job{entry, arg};
        }
    }
    if (idle) {
        // Outside the lock, so that the woken thread does not run straight
        // into it; the shared reference keeps the condition alive even if
        // the thread already ran the job and ended.
        idle->wake.notify_one();
        return true;
    }
    auto worker =
        std::make_unique<std::shared_ptr<Worker>>(std::make_shared<Worker>(this, Job{entry, arg}));
    if (!CreateDetachedThread(&WorkerMain, worker.get())) {
        Leave();
        return false;
    }
    worker.release();
    return true;
}

std::size_t WorkerPool::IdleThreads() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idle.size();
}

std::size_t WorkerPool::Threads() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads;
}

void WorkerPool::WorkerMain(void* worker) {
    std::shared_ptr<Worker> self = std::move(
        *std::unique_ptr<std::shared_ptr<Worker>>(static_cast<std::shared_ptr<Worker>*>(worker)));
    WorkerPool& pool = *self->pool;
    do {
        Job job = std::exchange(self->job, Job{});
        job.entry(job.arg);
    } while (pool.Park(self));
    // Nothing of the pool may be touched after this: it may be gone.
    pool.Leave();
}

bool WorkerPool::Park(const std::shared_ptr<Worker>& self) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closing || m_idle.size() >= m_maxIdle) {
        return false;
    }
    m_idle.push_back(self);
    self->wake.wait_for(lock, m_idleLife, [&] { return self->job.entry != nullptr || m_closing; });
    if (self->job.entry != nullptr) {
        return true;  // Run took it off the idle list
    }
    m_idle.erase(std::find(m_idle.begin(), m_idle.end(), self));
    return false;
}

void WorkerPool::Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_threads == 0) {
        m_gone.notify_all();
    }
}

WorkerPool& SharedWorkerPool() {
    // Never destroyed: detached jobs may still run while the process exits.
    static WorkerPool& pool = *new WorkerPool(kSharedMaxIdle, kSharedIdleLife);
    return pool;
}

bool StartDetachedThread(void (*entry)(void*), void* arg) {
    return SharedWorkerPool().Run(entry, arg);
}

}  // namespace engine
