// A failover hook for tests: answers what the test chose and records what
// it was asked, from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "upstream_failover.h"

class FakeUpstreamFailover final : public IUpstreamFailover {
public:
    explicit FakeUpstreamFailover(std::optional<std::string> answer)
        : m_answer(std::move(answer)) {}
    std::optional<std::string> Replacement(const std::string& failing) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_asked.push_back(failing);
        return m_answer;
    }
    std::vector<std::string> Asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }

private:
    const std::optional<std::string> m_answer;
    std::mutex m_mutex;
    std::vector<std::string> m_asked;
};
