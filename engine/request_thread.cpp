#include "request_thread.h"

#include <chrono>
#include <cstdint>
#include <string>

#include "relay.h"
#include "request_head.h"
#include "upstream_failover.h"
#include "upstream_failure.h"

namespace {

std::optional<UpstreamFailure> ConnectUpstream(const net::Socket& server, const std::string& host,
                                               int port, const net::Endpoint& listener) {
    const std::optional<std::uint32_t> address = net::ResolveIPv4(host);
    if (!address) {
        return UpstreamFailure::kUnresolved;
    }
    const auto portBits = static_cast<std::uint16_t>(port);
    if (IsOwnListener(*address, portBits, listener.address, listener.port)) {
        return UpstreamFailure::kSelf;  // each hop would open the next, without end
    }
    if (!server.Valid()) {
        return UpstreamFailure::kRefused;
    }
    switch (net::ConnectWithin(server.Get(), *address, portBits, kUpstreamConnectTimeoutMs)) {
        case net::ConnectOutcome::kConnected:
            return std::nullopt;
        case net::ConnectOutcome::kTimedOut:
            return UpstreamFailure::kTimedOut;
        case net::ConnectOutcome::kFailed:
        case net::ConnectOutcome::kStopped:  // no stop is asked for here
            break;
    }
    return UpstreamFailure::kRefused;
}

// Closing with unread bytes (the rest of a long head, a body) would send a
// reset, which can destroy the answer before the browser reads it; so the
// answer is ended with a half-close and what still comes is read away,
// within bounds.
void CloseAfterAnswer(const net::Socket& browser) {
    net::ShutdownSend(browser.Get());
    net::SetReceiveTimeout(browser.Get(), 1000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char discard[4096];
    for (int total = 0; total < (1 << 20) && std::chrono::steady_clock::now() < deadline;) {
        const int n = net::Receive(browser.Get(), discard, sizeof discard);
        if (n <= 0) {
            break;
        }
        total += n;
    }
}

}  // namespace

void RequestThread(net::Socket accepted, std::shared_ptr<const ConnectionContext> context) {
    // The connection may outlive the listener that accepted it; the library
    // is declared first so that it outlives the sockets of this function.
    net::SocketLibrary library;
    net::Socket browser = std::move(accepted);

    char first[kHeadReadSize];
    int received = net::Receive(browser.Get(), first, kHeadReadSize);
    std::string_view read(first, received > 0 ? static_cast<std::size_t>(received) : 0);
    RequestHead head = ParseRequestHead(read);

    if (context->upstream.useProxy == 0 && head.targetHost.empty()) {
        return;
    }
    net::Socket server;
    // Nothing has reached the browser before the connect succeeds, so a
    // request can move to another upstream unseen; once, to stay bounded.
    for (bool retried = false;; retried = true) {
        const UpstreamSettings& upstream = context->upstream;
        const std::string host = upstream.useProxy != 0 ? upstream.proxyHost : head.targetHost;
        const int port = upstream.useProxy != 0 ? upstream.proxyPort : head.targetPort;
        server = net::Socket(net::OpenTcp());
        const auto failure = ConnectUpstream(server, host, port, context->listener);
        const std::shared_ptr<UpstreamRoute> route = context->route.lock();
        if (!failure) {
            if (route) {
                route->Connected(context);
            }
            break;
        }
        std::shared_ptr<const ConnectionContext> next =
            route ? route->ConnectFailed(context, *failure) : nullptr;
        if (next && !retried) {
            context = std::move(next);
            continue;
        }
        if (!read.empty()) {
            const bool tunnel = head.requestLine.rfind("CONNECT ", 0) == 0;
            const std::string answer = UpstreamFailureResponse(
                *failure, host + ":" + std::to_string(port), upstream.useProxy != 0, tunnel);
            net::SendAll(browser.Get(), answer.data(), answer.size());
            CloseAfterAnswer(browser);
        }
        return;
    }
    for (const net::Socket* s : {&browser, &server}) {
        net::SetNoDelay(s->Get());
        // No idle time-out of the relay's own (a WebSocket may rest for
        // hours), but a peer that vanished is noticed.
        net::SetKeepAlive(s->Get());
    }

    std::shared_ptr<IConnectionFilter> filter =
        context->filterFactory ? context->filterFactory->ForConnection() : nullptr;
    if (!read.empty()) {
        // Whatever the read held past the parsed lines (a body sent with the
        // head, a line cut off by the read's size) follows the head at once.
        std::string out = RebuildRequestHead(head, context->upstream);
        out.append(read.substr(head.consumed));
        if (filter) {
            filter->OnRequestBytes(out);
        }
        net::SendAll(server.Get(), out.data(), out.size());
    }

    auto sockets = std::make_shared<ConnectionSockets>();
    sockets->browser = std::move(browser);
    sockets->upstream = std::move(server);
    StartRelays(std::move(sockets), std::move(filter));
}
