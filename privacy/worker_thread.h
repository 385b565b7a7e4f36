// Base of the program's background workers. A worker owns at most one thread
// at a time; Stop asks it to end and waits until it has, so a worker is never
// cut off while it holds a lock or is half-way through a database write.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>

class WorkerThread {
public:
    // The exit code of a thread that has not ended by itself: the worker was
    // never started, its thread could not be created, or it was stopped.
    static constexpr std::uint32_t kNoExitCode = 0xFFFFFFFF;

    WorkerThread() = default;
    // Stops the thread. A derived class must call Stop in its own destructor,
    // before the members that Run uses are gone.
    virtual ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs OnStart, Run(argument), OnExit on a new thread. A thread still
    // held is stopped first, so one worker never has two threads. False when
    // no thread could be created; the worker then stays stopped.
    bool Start(std::uint32_t argument = 0);
    // Asks the thread to end and waits until it has. Returns what Run
    // returned, or kNoExitCode when there was no thread. Call it from the
    // thread that starts the worker, never from the worker's own thread.
    std::uint32_t Stop();
    // True while a thread is held (between Start and Stop), even when Run
    // has already returned.
    bool IsRunning() const { return m_thread.joinable(); }

protected:
    virtual std::uint32_t Run(std::uint32_t argument) = 0;
    virtual void OnStart() {}
    virtual void OnExit() {}

    // For Run: true once Stop has been called for this thread.
    bool StopRequested() const { return m_stop.stop_requested(); }
    // For Run: a token to pass to work that checks for a stop between steps.
    std::stop_token StopToken() const { return m_stop.get_token(); }
    // For Run: sleeps for the given time or until Stop is called, whichever
    // comes first. True when it ended because of a stop.
    bool WaitForStop(std::chrono::milliseconds duration);

private:
    static void Entry(WorkerThread* self, std::uint32_t argument);

    std::thread m_thread;
    std::stop_source m_stop;
    // The pause waits on its own flag and condition rather than on a stop
    // callback: mingw-w64's stop callbacks hung under quick restarts.
    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::atomic<std::uint32_t> m_exitCode{kNoExitCode};
};
