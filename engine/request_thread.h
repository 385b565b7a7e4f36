#pragma once

#include <memory>

#include "connection_filter.h"
#include "socket_shim.h"
#include "upstream_settings.h"

inline constexpr int kHeadReadSize = 1024;

// What every connection accepted by one listener run works with; immutable.
struct ConnectionContext {
    UpstreamSettings upstream;
    std::shared_ptr<IConnectionFilterFactory> filterFactory;  // may be empty
};

// Reads and rebuilds the first request head, connects the upstream side,
// sends the head and starts the two relays. Any failure gives the connection
// up: both sockets are closed and the browser gets no answer.
void RequestThread(net::Socket accepted, std::shared_ptr<const ConnectionContext> context);
