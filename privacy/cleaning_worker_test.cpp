#include "cleaning_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "cleaning_steps.h"
#include "fake_trace_stores.h"

namespace {

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

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

// One cycle's log: everything up to the pause, `calls` long. With a short
// pause the next cycle follows, and its first call (a walk or the blanking,
// the same in every cycle) must come right after them: a cycle that made
// more calls would show one there instead.
Log OneCycle(std::uint32_t tmp, std::uint32_t cookies, std::uint32_t typed, std::uint32_t history,
             std::size_t calls) {
    FakeTraceStores fake;
    fake.Add(kCookiePattern, "Cookie:u@a/");
    fake.Add(kHistoryPattern, "Visited: u@http://a/");
    fake.Add(nullptr, "http://a/page");
    fake.Add(nullptr, "Cookie:u@b/", kCookieCacheEntry);
    fake.Add(nullptr, "Visited: u@http://b/", kUrlHistoryCacheEntry);
    CleaningWorker worker(fake.Stores(), 1ms);
    worker.Restart(tmp, cookies, typed, history);
    if (calls == 0) {
        // Nothing is on: no call to wait for, so the worker gets a moment
        // to make one it should not.
        std::this_thread::sleep_for(50ms);
        worker.Stop();
        return fake.Log();
    }
    EXPECT_TRUE(WaitUntil([&] { return fake.Log().size() > calls; }));
    worker.Stop();
    Log log = fake.Log();
    if (log.size() <= calls) {
        return log;
    }
    EXPECT_EQ(log[calls], log[0]) << "a cycle of more than " << calls << " calls";
    log.resize(calls);
    return log;
}

TEST(CleaningWorkerTest, EachOptionSetRunsItsStepsInOrder) {
    EXPECT_EQ(OneCycle(1, 1, 1, 1, 12),
              (Log{"walk cookie:", "delete Cookie:u@a/",  //
                   "walk visited:", "delete Visited: u@http://a/", "clear history store",
                   "walk content", "delete http://a/page",  //
                   "blank typed addresses",                 //
                   "walk content", "delete Cookie:u@b/", "delete Visited: u@http://b/",
                   "clear history store"}));
    // Without typed addresses the full sweep still follows.
    Log threeOn = OneCycle(1, 1, 0, 1, 11);
    EXPECT_EQ(threeOn.size(), 11u);
    EXPECT_EQ(std::count(threeOn.begin(), threeOn.end(), "clear history store"), 2);
    EXPECT_EQ(std::count(threeOn.begin(), threeOn.end(), "blank typed addresses"), 0);
    EXPECT_EQ(OneCycle(0, 1, 0, 0, 2), (Log{"walk cookie:", "delete Cookie:u@a/"}));
    EXPECT_EQ(OneCycle(0, 0, 1, 1, 4), (Log{"walk visited:", "delete Visited: u@http://a/",
                                            "clear history store", "blank typed addresses"}));
    // Temporary files without the other two: no full sweep, and the cookie
    // and history entries of the content walk stay.
    EXPECT_EQ(OneCycle(1, 0, 0, 0, 2), (Log{"walk content", "delete http://a/page"}));
    EXPECT_EQ(OneCycle(0, 0, 0, 0, 0), Log{});
}

TEST(CleaningWorkerTest, CyclesRepeatAndStuckEntriesDoNotStopAWalk) {
    FakeTraceStores fake;
    fake.Add(kCookiePattern, "Cookie:u@a/");
    fake.Add(kCookiePattern, "Cookie:u@stuck/", kCookieCacheEntry, true);
    fake.Add(kCookiePattern, "Cookie:u@c/");
    CleaningWorker worker(fake.Stores(), 1ms);
    worker.Restart(0, 1, 0, 0);
    // The stuck one is tried again in every cycle.
    auto stuckTries = [&] {
        Log log = fake.Log();
        return std::count(log.begin(), log.end(), "delete Cookie:u@stuck/");
    };
    ASSERT_TRUE(WaitUntil([&] { return stuckTries() >= 3; }));
    worker.Stop();
    EXPECT_EQ(fake.Left(kCookiePattern), 1u);
    Log log = fake.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "delete Cookie:u@c/"), 1);
}

TEST(CleaningWorkerTest, StopReturnsAtOnceDuringThePauseAndDuringAWalk) {
    FakeTraceStores fake;
    // A pause far longer than the bound below, so that a stop that waited it
    // out cannot pass on a machine however busy.
    CleaningWorker worker(fake.Stores(), 2min);
    worker.Restart(0, 1, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return fake.Log().size() == 1; }));
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(worker.Stop(), WorkerThread::kNoExitCode);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);

    // A walk of a hundred thousand slow entries ends between two of them.
    for (int i = 0; i < 100000; ++i) {
        fake.Add(nullptr, "http://x/" + std::to_string(i));
    }
    fake.SetEntryDelay(1ms);
    fake.ClearLog();
    worker.Restart(1, 0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return fake.Log().size() >= 3; }));
    before = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 30s);
    EXPECT_GT(fake.Left(nullptr), 50000u);
}

TEST(CleaningWorkerTest, SavingTwiceQuicklyLeavesOneThread) {
    FakeTraceStores fake;
    for (int i = 0; i < 1000; ++i) {
        fake.Add(nullptr, "http://x/" + std::to_string(i));
    }
    CleaningWorker worker(fake.Stores(), 1ms);
    for (int i = 0; i < 20; ++i) {
        worker.Restart(1, 1, 1, 1);
        worker.Restart(1, 0, 1, 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return fake.Left(nullptr) == 0; }));
    worker.Stop();
    EXPECT_EQ(fake.MostWalksAtOnce(), 1);
}

TEST(CleaningStepsTest, HistoryStoreIsClearedEvenWhenNothingWasWalked) {
    FakeTraceStores fake;
    DeleteHistoryEntries(fake.Stores());
    FullSweep(fake.Stores());
    DeleteCookies(fake.Stores());
    DeleteTemporaryFiles(fake.Stores());
    EXPECT_EQ(fake.Log(), (Log{"walk visited:", "clear history store", "walk content",
                               "clear history store", "walk cookie:", "walk content"}));
}

}  // namespace
