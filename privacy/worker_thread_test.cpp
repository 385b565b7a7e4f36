#include "worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class ProbeWorker final : public WorkerThread {
public:
    ~ProbeWorker() override { Stop(); }

    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::atomic<int> runs{0};
    std::atomic<bool> endAtOnce{false};
    std::mutex mutex;
    std::vector<std::string> calls;

protected:
    void OnStart() override { Record("start"); }
    void OnExit() override { Record("exit"); }
    std::uint32_t Run(std::uint32_t argument) override {
        Record("run " + std::to_string(argument));
        int now = ++running;
        int most = mostAtOnce.load();
        while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
        }
        ++runs;
        std::uint32_t result = 7;
        if (!endAtOnce && WaitForStop(10min)) {
            result = 99;
        }
        --running;
        return result;
    }

private:
    void Record(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
};

bool WaitUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(WorkerThreadTest, RunsItsHooksInOrderAndReportsRunsResult) {
    ProbeWorker worker;
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.Stop(), WorkerThread::kNoExitCode);

    worker.endAtOnce = true;
    ASSERT_TRUE(worker.Start(5));
    ASSERT_TRUE(WaitUntil([&] { return worker.runs == 1; }));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.Stop(), 7u);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.calls, (std::vector<std::string>{"start", "run 5", "exit"}));
}

TEST(WorkerThreadTest, StopEndsALongWaitAtOnce) {
    ProbeWorker worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return worker.running == 1; }));
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(worker.Stop(), 99u);
    // Far below the ten minutes the worker was waiting for, however busy the
    // machine.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 60s);
    EXPECT_EQ(worker.running, 0);
}

TEST(WorkerThreadTest, RestartsNeverOverlap) {
    ProbeWorker worker;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(worker.Start(static_cast<std::uint32_t>(i)));
    }
    ASSERT_TRUE(WaitUntil([&] { return worker.runs >= 1 && worker.running == 1; }));
    worker.Stop();
    EXPECT_EQ(worker.mostAtOnce, 1);
    EXPECT_EQ(worker.running, 0);
}

TEST(WorkerThreadTest, DestroyingARunningWorkerStopsIt) {
    auto before = std::chrono::steady_clock::now();
    {
        ProbeWorker worker;
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitUntil([&] { return worker.running == 1; }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 60s);
}

}  // namespace
