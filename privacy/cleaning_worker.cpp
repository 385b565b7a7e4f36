#include "cleaning_worker.h"

#include "cleaning_steps.h"

CleaningWorker::CleaningWorker(TraceStores stores, std::chrono::milliseconds pause)
    : m_stores(stores), m_pause(pause) {}

CleaningWorker::~CleaningWorker() {
    Stop();
}

void CleaningWorker::SetOptions(std::uint32_t temporaryFiles, std::uint32_t cookies,
                                std::uint32_t typedAddresses, std::uint32_t history) {
    m_temporaryFiles = temporaryFiles;
    m_cookies = cookies;
    m_typedAddresses = typedAddresses;
    m_history = history;
}

void CleaningWorker::Restart(std::uint32_t temporaryFiles, std::uint32_t cookies,
                             std::uint32_t typedAddresses, std::uint32_t history) {
    Stop();
    SetOptions(temporaryFiles, cookies, typedAddresses, history);
    Start(0);
}

std::uint32_t CleaningWorker::Run(std::uint32_t) {
    std::stop_token stop = StopToken();
    while (!stop.stop_requested()) {
        RunCycle(stop);
        if (WaitForStop(m_pause)) {
            break;
        }
    }
    return kNoExitCode;
}

void CleaningWorker::RunCycle(const std::stop_token& stop) {
    if (m_cookies != 0) {
        DeleteCookies(m_stores, stop);
    }
    if (m_history != 0) {
        DeleteHistoryEntries(m_stores, stop);
    }
    if (m_temporaryFiles != 0) {
        DeleteTemporaryFiles(m_stores, stop);
    }
    if (m_typedAddresses != 0) {
        BlankTypedAddresses(m_stores, stop);
    }
    if (m_cookies != 0 && m_history != 0 && m_temporaryFiles != 0) {
        FullSweep(m_stores, stop);
    }
}
