// Repeats the enabled cleaning steps every ten seconds for as long as it runs,
// so that traces go again soon after the browser makes them.
#pragma once

#include <chrono>
#include <cstdint>

#include "url_cache.h"
#include "worker_thread.h"

inline constexpr std::chrono::milliseconds kCleaningPause{10000};

class CleaningWorker : public WorkerThread {
public:
    // The pause between two cycles is a parameter for tests only.
    explicit CleaningWorker(TraceStores stores, std::chrono::milliseconds pause = kCleaningPause);
    ~CleaningWorker() override;

    // Nonzero means on. Only while the worker is stopped.
    void SetOptions(std::uint32_t temporaryFiles, std::uint32_t cookies,
                    std::uint32_t typedAddresses, std::uint32_t history);
    // The one way every caller restarts it: Stop, SetOptions, Start.
    void Restart(std::uint32_t temporaryFiles, std::uint32_t cookies, std::uint32_t typedAddresses,
                 std::uint32_t history);

protected:
    // Never ends by itself; returns kNoExitCode once stopped.
    std::uint32_t Run(std::uint32_t argument) override;

private:
    void RunCycle(const std::stop_token& stop);

    TraceStores m_stores;
    std::chrono::milliseconds m_pause;
    std::uint32_t m_temporaryFiles = 0;
    std::uint32_t m_cookies = 0;
    std::uint32_t m_typedAddresses = 0;
    std::uint32_t m_history = 0;
};
