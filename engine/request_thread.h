#pragma once

#include <memory>

#include "connection_filter.h"
#include "socket_shim.h"
#include "upstream_settings.h"

inline constexpr int kHeadReadSize = 1024;

class UpstreamRoute;

// What every connection accepted by one listener run works with; immutable.
struct ConnectionContext {
    UpstreamSettings upstream;
    std::shared_ptr<IConnectionFilterFactory> filterFactory;  // may be empty
    net::Endpoint listener;  // where the connections arrive, never an upstream
    // Where failed connects are counted and a replacement is found; gone
    // with the listener.
    std::weak_ptr<UpstreamRoute> route;
};

// Reads and rebuilds the first request head, connects the upstream side
// (bounded in time), sends the head and starts the two relays. A proxy that
// cannot be reached is counted against, and when the route has moved to
// another one meanwhile the request goes there instead, once. When the
// upstream side cannot be reached the browser gets an answer saying so;
// any other failure gives the connection up, closing both sockets.
void RequestThread(net::Socket accepted, std::shared_ptr<const ConnectionContext> context);
