// Trace stores for tests: a URL cache held in memory whose walks and deletes
// are recorded, with entries that refuse deletion and a count of walks in
// progress at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "url_cache.h"

class FakeTraceStores final : public IUrlCache, public IHistoryStore, public ITypedAddresses {
public:
    struct Entry {
        std::string name;
        std::uint32_t type = 0;
        bool stuck = false;  // deletion fails
    };

    // Each of the three walks has its own entries, as in the real cache.
    void Add(const char* pattern, std::string name, std::uint32_t type = 0, bool stuck = false) {
        std::lock_guard lock(m_mutex);
        ListFor(pattern).push_back({std::move(name), type, stuck});
    }
    // Every Next waits this long (to catch a walk between two entries).
    void SetEntryDelay(std::chrono::milliseconds delay) { m_entryDelay = delay; }

    std::vector<std::string> Log() const {
        std::lock_guard lock(m_mutex);
        return m_log;
    }
    void ClearLog() {
        std::lock_guard lock(m_mutex);
        m_log.clear();
    }
    std::size_t Left(const char* pattern) {
        std::lock_guard lock(m_mutex);
        return ListFor(pattern).size();
    }
    int MostWalksAtOnce() const { return m_most; }
    int Cycles() const { return m_cycles; }  // full-sweep-free marker: walks started

    TraceStores Stores() { return TraceStores{*this, *this, *this}; }

    std::unique_ptr<IUrlCacheWalk> Walk(const char* pattern) override {
        Record(std::string("walk ") + (pattern ? pattern : "content"));
        ++m_cycles;
        return std::make_unique<FakeWalk>(*this, pattern);
    }
    void Clear() override { Record("clear history store"); }
    void Blank() override { Record("blank typed addresses"); }

private:
    class FakeWalk final : public IUrlCacheWalk {
    public:
        FakeWalk(FakeTraceStores& owner, const char* pattern) : m_owner(owner), m_pattern(pattern) {
            int now = ++m_owner.m_active;
            int most = m_owner.m_most.load();
            while (now > most && !m_owner.m_most.compare_exchange_weak(most, now)) {
            }
        }
        ~FakeWalk() override { --m_owner.m_active; }

        const UrlCacheEntry* Next() override {
            if (m_owner.m_entryDelay.count() > 0) {
                std::this_thread::sleep_for(m_owner.m_entryDelay);
            }
            std::lock_guard lock(m_owner.m_mutex);
            auto& list = m_owner.ListFor(m_pattern);
            if (m_index >= list.size()) {
                return nullptr;
            }
            m_current = list[m_index++];
            m_entry = UrlCacheEntry{m_current.name, m_current.type};
            return &m_entry;
        }

        bool DeleteCurrent() override {
            std::lock_guard lock(m_owner.m_mutex);
            m_owner.m_log.push_back("delete " + m_current.name);
            if (m_current.stuck) {
                return false;
            }
            auto& list = m_owner.ListFor(m_pattern);
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(--m_index));
            return true;
        }

    private:
        FakeTraceStores& m_owner;
        const char* m_pattern;
        std::size_t m_index = 0;
        Entry m_current;
        UrlCacheEntry m_entry;
    };

    std::vector<Entry>& ListFor(const char* pattern) {
        if (pattern == nullptr) {
            return m_content;
        }
        return std::string(pattern) == kCookiePattern ? m_cookies : m_history;
    }
    void Record(std::string what) {
        std::lock_guard lock(m_mutex);
        m_log.push_back(std::move(what));
    }

    mutable std::mutex m_mutex;
    std::vector<Entry> m_cookies, m_history, m_content;
    std::vector<std::string> m_log;
    std::chrono::milliseconds m_entryDelay{0};
    std::atomic<int> m_active{0};
    std::atomic<int> m_most{0};
    std::atomic<int> m_cycles{0};
};
