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

// What the filter lets through goes to the destination as it comes. Once a
// send has failed the destination is gone: nothing more is sent, and the
// connection ends rather than read on for nobody.
class SocketSink final : public IResponseSink {
public:
    explicit SocketSink(net::SocketHandle destination) : m_destination(destination) {}
    void Send(std::string_view bytes) override {
        m_failed = m_failed || !net::SendAll(m_destination, bytes.data(), bytes.size());
    }
    bool Failed() const { return m_failed; }

private:
    net::SocketHandle m_destination;
    bool m_failed = false;
};

// Relays until the source ends its stream (true) or the connection has to
// end at once (false).
bool Pump(CRelayChannel& c, SocketSink& destination) {
    for (;;) {
        c.lastLength = net::Receive(c.source, c.buffer, kRelayChunkSize);
        if (c.sockets->tornDown.load()) {
            return false;  // the other direction ended the connection
        }
        if (c.lastLength <= 0) {
            return c.lastLength == 0;  // the end of the stream, or a reset
        }
        c.buffer[c.lastLength] = '\0';
        const std::string_view chunk(c.buffer, static_cast<std::size_t>(c.lastLength));
        if (!c.filter) {
            destination.Send(chunk);
        } else if (c.filterFlag == 1) {
            c.filter->OnResponseBytes(chunk, destination);
            if (c.filter->EndsConnection()) {
                return false;  // an answer that only the close ends, or one cut off
            }
        } else {
            // Every request the browser sends, so that each answer is read
            // as the answer to its own request.
            c.filter->OnRequestBytes(chunk);
            destination.Send(chunk);
        }
        if (destination.Failed()) {
            return false;
        }
    }
}

}  // namespace

void RelayThread(std::unique_ptr<CRelayChannel> channel) {
    CRelayChannel& c = *channel;
    SocketSink destination(c.destination);
    bool ended = Pump(c, destination);
    if (ended && c.filter && c.filterFlag == 1) {
        // What the filter still holds (a body that ends with the close) goes
        // to the browser before the end of the stream does.
        c.filter->OnResponseEnd(destination);
        ended = !destination.Failed() && !c.filter->EndsConnection();
    }
    if (ended) {
        net::ShutdownSend(c.destination);
        if (c.sockets->directionsDone.fetch_add(1) == 0) {
            return;  // the other direction still relays
        }
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
    auto toUpstream = MakeChannel(browser, upstream, 0, sockets, filter);
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
