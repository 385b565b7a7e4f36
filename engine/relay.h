#pragma once

#include <atomic>
#include <memory>

#include "connection_filter.h"
#include "socket_shim.h"

inline constexpr int kRelayChunkSize = 16384;

// Both sockets of one relayed connection. The two relay workers share it; the
// last one to let go closes each socket, exactly once.
struct ConnectionSockets {
    net::SocketLibrary library;  // outlives the sockets below
    net::Socket browser;
    net::Socket upstream;
    // Set when the whole connection ends. A POSIX socket shut down for
    // reading still hands out what it had queued (and what keeps arriving),
    // so the other direction also checks this after every receive.
    std::atomic<bool> tornDown{false};
    // Directions whose source ended its stream and whose end was passed on;
    // the second of them ends the connection.
    std::atomic<int> directionsDone{0};
};

// One direction of one relayed connection.
struct CRelayChannel {
    net::SocketHandle source = net::kNoSocket;
    net::SocketHandle destination = net::kNoSocket;
    int filterFlag = 0;  // 1: upstream -> browser, the direction the filter may rewrite
    int lastLength = 0;  // result of the last receive
    std::shared_ptr<ConnectionSockets> sockets;
    std::shared_ptr<IConnectionFilter> filter;  // may be empty
    char buffer[kRelayChunkSize + 1];
};

// Copies chunks from source to destination. When the source ends its stream,
// the destination's sending side is shut down after the rest (a client that
// half-closes still gets its answer) and only this direction ends; the
// connection ends once both have. A failed receive or send, or a filter that
// ends the connection, shuts both sockets down at once, which ends the other
// direction too.
void RelayThread(std::unique_ptr<CRelayChannel> channel);

// Starts the two relay workers of a connection, browser -> upstream first.
// False when they could not both be started; the connection is then torn down.
bool StartRelays(std::shared_ptr<ConnectionSockets> sockets,
                 std::shared_ptr<IConnectionFilter> filter);
