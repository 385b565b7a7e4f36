#include "name_lookups.h"

#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "socket_shim.h"

struct NameLookups::Shared {
    std::mutex mutex;
    std::function<void()> done;  // emptied when the owner goes
    std::deque<std::string> waiting;
    std::map<std::string, std::optional<std::optional<std::uint32_t>>, std::less<>> results;
    int threads = 0;
};

void NameLookups::LookUp(std::shared_ptr<Shared> shared) {
    net::SocketLibrary library;  // Winsock's resolver needs it started
    std::unique_lock lock(shared->mutex);
    while (!shared->waiting.empty() && shared->done) {
        const std::string name = std::move(shared->waiting.front());
        shared->waiting.pop_front();
        lock.unlock();
        const std::optional<std::uint32_t> address = net::ResolveIPv4(name);
        lock.lock();
        shared->results[name] = address;
        if (shared->done) {
            shared->done();
        }
    }
    --shared->threads;
}

NameLookups::NameLookups(std::function<void()> done) : m_shared(std::make_shared<Shared>()) {
    m_shared->done = std::move(done);
}

NameLookups::~NameLookups() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->done = nullptr;
    m_shared->waiting.clear();
}

void NameLookups::Start(const std::string& name) {
    std::lock_guard lock(m_shared->mutex);
    if (!m_shared->results.emplace(name, std::nullopt).second) {
        return;
    }
    m_shared->waiting.push_back(name);
    if (m_shared->threads < kThreads) {
        try {
            std::thread(LookUp, m_shared).detach();
            ++m_shared->threads;
        } catch (const std::system_error&) {
            // No thread now: a running one takes the name, or it stays
            // unanswered and its connect runs out of time.
        }
    }
}

std::optional<std::optional<std::uint32_t>> NameLookups::Result(const std::string& name) const {
    std::lock_guard lock(m_shared->mutex);
    const auto found = m_shared->results.find(name);
    return found == m_shared->results.end() ? std::nullopt : found->second;
}
