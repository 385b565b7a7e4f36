#include "request_thread.h"

#include <cstdint>
#include <string>

#include "relay.h"
#include "request_head.h"

void RequestThread(net::Socket accepted, std::shared_ptr<const ConnectionContext> context) {
    // The connection may outlive the listener that accepted it; the library
    // is declared first so that it outlives the sockets of this function.
    net::SocketLibrary library;
    net::Socket browser = std::move(accepted);
    const UpstreamSettings& upstream = context->upstream;

    char first[kHeadReadSize];
    int received = net::Receive(browser.Get(), first, kHeadReadSize);
    std::string_view read(first, received > 0 ? static_cast<std::size_t>(received) : 0);
    RequestHead head = ParseRequestHead(read);

    std::string host = upstream.useProxy != 0 ? upstream.proxyHost : head.targetHost;
    int port = upstream.useProxy != 0 ? upstream.proxyPort : head.targetPort;
    if (upstream.useProxy == 0 && head.targetHost.empty()) {
        return;
    }
    std::optional<std::uint32_t> address = net::ResolveIPv4(host);
    if (!address) {
        return;
    }
    net::Socket server(net::OpenTcp());
    if (!server.Valid() ||
        !net::Connect(server.Get(), *address, static_cast<std::uint16_t>(port))) {
        return;
    }
    net::SetNoDelay(browser.Get());
    net::SetNoDelay(server.Get());

    std::shared_ptr<IConnectionFilter> filter =
        context->filterFactory ? context->filterFactory->ForConnection() : nullptr;
    if (!read.empty()) {
        // Whatever the read held past the parsed lines (a body sent with the
        // head, a line cut off by the read's size) follows the head at once.
        std::string out = RebuildRequestHead(head, upstream);
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
