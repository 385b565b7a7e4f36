#include "relay.h"

#include <new>
#include <string_view>

#include "thread_start.h"

namespace {

// Ends both directions: wakes the other worker's blocked receive, and makes
// it stop after the chunk it may still be holding. Only the first call shuts
// the sockets down; a second would find nothing left to end.
void TearDown(ConnectionSockets& sockets) {
    if (sockets.tornDown.exchange(true)) {
        return;
    }
    net::ShutdownBoth(sockets.browser.Get());
    net::ShutdownBoth(sockets.upstream.Get());
}

}  // namespace

void RelayThread(std::unique_ptr<CRelayChannel> channel) {
    CRelayChannel& c = *channel;
    c.lastLength = net::Receive(c.source, c.buffer, kRelayChunkSize);
    while (c.lastLength > 0 && !c.sockets->tornDown.load()) {
        c.buffer[c.lastLength] = '\0';
        std::string_view chunk(c.buffer, static_cast<std::size_t>(c.lastLength));
        if (c.filter && c.filterFlag == 1) {
            chunk = c.filter->OnResponseBytes(chunk);
        } else if (c.filter) {
            c.filter->OnRequestBytes(chunk);
        }
        // A failed send does not end the loop: the source still has to be
        // drained until the other direction tears the connection down.
        net::SendAll(c.destination, chunk.data(), chunk.size());
        c.lastLength = net::Receive(c.source, c.buffer, kRelayChunkSize);
    }
    if (c.filter && c.filterFlag == 1 && !c.sockets->tornDown.load()) {
        // The upstream side ended: what the filter still holds (a body that
        // ends with the close) goes to the browser before the teardown.
        std::string_view rest = c.filter->OnResponseEnd();
        net::SendAll(c.destination, rest.data(), rest.size());
    }
    TearDown(*c.sockets);
    // Dropping the channel releases this direction's share of the sockets.
}

namespace {

std::unique_ptr<CRelayChannel> MakeChannel(net::SocketHandle source, net::SocketHandle destination,
                                           int filterFlag,
                                           const std::shared_ptr<ConnectionSockets>& sockets,
                                           std::shared_ptr<IConnectionFilter> filter) {
    std::unique_ptr<CRelayChannel> channel(new (std::nothrow) CRelayChannel);
    if (channel) {
        channel->source = source;
        channel->destination = destination;
        channel->filterFlag = filterFlag;
        channel->sockets = sockets;
        channel->filter = std::move(filter);
    }
    return channel;
}

bool StartRelay(std::unique_ptr<CRelayChannel> channel) {
    return engine::StartDetached([c = std::move(channel)]() mutable { RelayThread(std::move(c)); });
}

}  // namespace

bool StartRelays(std::shared_ptr<ConnectionSockets> sockets,
                 std::shared_ptr<IConnectionFilter> filter) {
    net::SocketHandle browser = sockets->browser.Get();
    net::SocketHandle upstream = sockets->upstream.Get();
    auto toUpstream = MakeChannel(browser, upstream, 0, sockets, nullptr);
    auto toBrowser = MakeChannel(upstream, browser, 1, sockets, std::move(filter));
    if (!toUpstream || !toBrowser || !StartRelay(std::move(toUpstream))) {
        return false;
    }
    if (!StartRelay(std::move(toBrowser))) {
        // The first worker is already running: end it, so that it lets go
        // of the sockets.
        TearDown(*sockets);
        return false;
    }
    return true;
}
