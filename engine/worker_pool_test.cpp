// The worker pool on real threads. Portable: also runs under Wine.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "loopback.h"

namespace {

using namespace std::chrono_literals;
using engine::WorkerPool;
using testsupport::WaitFor;

// Runs a std::function on the pool; the pointer must stay valid until it ran.
bool RunOn(WorkerPool& pool, std::function<void()>* job) {
    return pool.Run([](void* arg) { (*static_cast<std::function<void()>*>(arg))(); }, job);
}

// A gate the jobs of a test wait at, bounded in time so that a fault cannot
// hang the test.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_signal.notify_all();
    }
    bool Pass() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_signal.wait_for(lock, 5s, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_signal;
    bool m_open = false;
};

TEST(WorkerPool, EveryJobGetsAThreadOfItsOwnAndFinishedOnesAreReused) {
    WorkerPool pool(2, 10min);
    // Jobs that only finish together: one queued behind another would never
    // start. Relays depend on this.
    constexpr int kJobs = 8;
    std::atomic<int> started{0};
    std::atomic<int> sawAll{0};
    Gate allStarted;
    std::function<void()> job = [&] {
        if (started.fetch_add(1) + 1 == kJobs) {
            allStarted.Open();
        }
        if (allStarted.Pass()) {
            sawAll.fetch_add(1);
        }
    };
    for (int i = 0; i < kJobs; ++i) {
        ASSERT_TRUE(RunOn(pool, &job));
    }
    ASSERT_TRUE(WaitFor([&] { return pool.Threads() == 2; }));
    EXPECT_EQ(sawAll.load(), kJobs);
    // Only maxIdle threads stay; the rest ended.
    EXPECT_EQ(pool.IdleThreads(), 2u);

    // The next jobs run on the parked threads instead of new ones.
    std::mutex idsMutex;
    std::vector<std::thread::id> ids;
    std::function<void()> record = [&] {
        std::lock_guard<std::mutex> lock(idsMutex);
        ids.push_back(std::this_thread::get_id());
    };
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(RunOn(pool, &record));
        ASSERT_TRUE(WaitFor([&] { return pool.IdleThreads() == 2; }));
    }
    EXPECT_EQ(pool.Threads(), 2u);
    ASSERT_EQ(ids.size(), 4u);
    for (const std::thread::id& id : ids) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, ids.front());  // the most recently parked thread goes first
    }
}

TEST(WorkerPool, IdleThreadsEndAfterTheirIdleLife) {
    WorkerPool pool(4, 100ms);
    std::function<void()> nothing = [] {};
    ASSERT_TRUE(RunOn(pool, &nothing));
    ASSERT_TRUE(RunOn(pool, &nothing));
    EXPECT_TRUE(WaitFor([&] { return pool.Threads() == 0; }));
    EXPECT_EQ(pool.IdleThreads(), 0u);
    // And the pool still starts threads afterwards.
    std::atomic<bool> ran{false};
    std::function<void()> mark = [&] { ran = true; };
    ASSERT_TRUE(RunOn(pool, &mark));
    EXPECT_TRUE(WaitFor([&] { return ran.load(); }));
}

TEST(WorkerPool, DestroyingEndsIdleThreadsAtOnceAndWaitsForRunningJobs) {
    std::atomic<bool> slowDone{false};
    std::function<void()> slow = [&] {
        std::this_thread::sleep_for(200ms);
        slowDone = true;
    };
    std::function<void()> quick = [] {};
    auto begin = std::chrono::steady_clock::now();
    {
        WorkerPool pool(4, 10min);
        ASSERT_TRUE(RunOn(pool, &slow));
        ASSERT_TRUE(RunOn(pool, &quick));
        ASSERT_TRUE(WaitFor([&] { return pool.IdleThreads() == 1; }));
    }
    EXPECT_TRUE(slowDone.load());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 60s);
}

}  // namespace
