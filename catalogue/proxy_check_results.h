// The list check's latest results while the program runs: filled on the
// window's thread as results come (and from the results file at a start),
// read from any thread (a connection that looks for a proxy to move to).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "proxy_check_file.h"

class ProxyCheckResults {
public:
    void Put(const ProxyCheckResult& result) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_table.Put(result);
    }
    void Replace(ProxyCheckTable table) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_table = std::move(table);
    }
    ProxyCheckTable Snapshot() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_table;
    }
    // BestEntry over the results as they stand.
    std::optional<std::string> Best(std::string_view current) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return BestEntry(m_table, current);
    }

private:
    mutable std::mutex m_mutex;
    ProxyCheckTable m_table;
};
