#include "upstream_failover.h"

#include "text_number.h"

ProxyEndpoint ParseProxyEndpoint(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return {"", AtoiText(text)};
    }
    return {text.substr(0, colon), AtoiText(std::string_view(text).substr(colon + 1))};
}

std::shared_ptr<const ConnectionContext> UpstreamRoute::Current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

void UpstreamRoute::Set(std::shared_ptr<const ConnectionContext> context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = std::move(context);
    m_failures.clear();
}

std::shared_ptr<const ConnectionContext> UpstreamRoute::ConnectFailed(
    const std::shared_ptr<const ConnectionContext>& used, UpstreamFailure failure) {
    // Only a proxy that does not answer is replaced: a name that does not
    // resolve is the user's typing, and the own listener the user's choice.
    if (used->upstream.useProxy == 0 ||
        (failure != UpstreamFailure::kRefused && failure != UpstreamFailure::kTimedOut)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (used != m_current) {
        // Another upstream took over since the connection began; late
        // failures of the old one count against nothing.
        return m_current && m_current->upstream.useProxy != 0 ? m_current : nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    while (!m_failures.empty() && now - m_failures.front() > kFailoverSpan) {
        m_failures.pop_front();
    }
    m_failures.push_back(now);
    if (static_cast<int>(m_failures.size()) < kFailoverFailures || !m_failover) {
        return nullptr;
    }
    // Asked once per burst; with nothing to move to, the next burst asks
    // again (the list check may have found one meanwhile).
    m_failures.clear();
    const UpstreamSettings& old = used->upstream;
    const std::optional<std::string> next =
        m_failover->Replacement(old.proxyHost + ":" + std::to_string(old.proxyPort));
    if (!next) {
        return nullptr;
    }
    // The old proxy's credentials are never handed to another one.
    const ProxyEndpoint endpoint = ParseProxyEndpoint(*next);
    m_current = std::make_shared<const ConnectionContext>(
        ConnectionContext{MakeUpstreamSettings(1, endpoint.host, endpoint.port, "", ""),
                          used->filterFactory, used->listener, weak_from_this()});
    return m_current;
}

void UpstreamRoute::Connected(const std::shared_ptr<const ConnectionContext>& used) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (used == m_current) {
        m_failures.clear();
    }
}
