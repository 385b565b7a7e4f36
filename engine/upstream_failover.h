// Moving away from an upstream proxy that stopped answering: the listener's
// connections count their failed connects to it, and a burst of them asks
// the program for a replacement, which every new connection takes at once.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "request_thread.h"
#include "upstream_failure.h"

// A burst: this many failed connects to the same upstream within the span.
inline constexpr int kFailoverFailures = 3;
inline constexpr std::chrono::seconds kFailoverSpan{20};

// A proxy endpoint text ("host:port") split as everywhere in the program:
// the host is the text before the first ":" (empty without one); the port is
// atoi of the text after it (of the whole text without one).
struct ProxyEndpoint {
    std::string host;
    int port = 0;
};
ProxyEndpoint ParseProxyEndpoint(const std::string& text);

// Chooses where to go when an upstream stops answering. Called on a
// connection's thread while the switch is decided, so it must be quick and
// thread-safe, and must not call back into the proxy server.
class IUpstreamFailover {
public:
    virtual ~IUpstreamFailover() = default;
    // `failing` is "host:port" of the proxy that stopped answering; the
    // endpoint text to move to, or nothing to stay.
    virtual std::optional<std::string> Replacement(const std::string& failing) = 0;
};

// A hook that its owner can close before it goes, while connections that
// may outlive the owner still hold it: after Close it answers nothing, and
// Close waits for a call that runs.
class ClosableFailover final : public IUpstreamFailover {
public:
    explicit ClosableFailover(IUpstreamFailover* target) : m_target(target) {}
    std::optional<std::string> Replacement(const std::string& failing) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_target != nullptr ? m_target->Replacement(failing) : std::nullopt;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_target = nullptr;
    }

private:
    std::mutex m_mutex;
    IUpstreamFailover* m_target;
};

// The upstream that a listener's new connections take, shared by the
// listener and its connections: replaced by a Start that retargets the
// listener, or by a switch away from a proxy that stopped answering.
class UpstreamRoute final : public std::enable_shared_from_this<UpstreamRoute> {
public:
    explicit UpstreamRoute(std::shared_ptr<IUpstreamFailover> failover)
        : m_failover(std::move(failover)) {}

    std::shared_ptr<const ConnectionContext> Current() const;
    // The failure count starts anew with the upstream.
    void Set(std::shared_ptr<const ConnectionContext> context);

    // A connection's connect with `used` failed. Counts it against the
    // upstream when that is still the current one, and switches on the
    // burst's last failure when the hook names a replacement. Returns the
    // context to try once more (the upstream has changed since the
    // connection began, or just now), or null.
    std::shared_ptr<const ConnectionContext> ConnectFailed(
        const std::shared_ptr<const ConnectionContext>& used, UpstreamFailure failure);
    // A connect with `used` succeeded: its upstream answers again.
    void Connected(const std::shared_ptr<const ConnectionContext>& used);

private:
    const std::shared_ptr<IUpstreamFailover> m_failover;  // may be empty
    mutable std::mutex m_mutex;
    std::shared_ptr<const ConnectionContext> m_current;
    std::deque<std::chrono::steady_clock::time_point> m_failures;  // of m_current, oldest first
};
