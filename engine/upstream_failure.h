// What the browser gets when its connection cannot reach the upstream side:
// an answer of the program's own instead of a closed connection, so that the
// user reads what failed and what to do rather than an empty reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How long a connect to the upstream side may take. A proxy whose SYNs
// vanish would otherwise hold the browser for the system's two minutes.
inline constexpr int kUpstreamConnectTimeoutMs = 10000;

enum class UpstreamFailure {
    kUnresolved,  // the name has no address
    kRefused,     // the connect failed (refused, unreachable)
    kTimedOut,    // no answer to the connect within the bound
    kSelf,        // the upstream is this program's own listener
};

// The whole HTTP response: 502 Bad Gateway, or 504 Gateway Timeout for a
// time-out. `upstream` is the endpoint as the user chose it; `viaProxy`
// tells a proxy from a web server reached directly. A tunnel request gets
// the status line alone: a browser shows no body for a failed CONNECT.
std::string UpstreamFailureResponse(UpstreamFailure failure, std::string_view upstream,
                                    bool viaProxy, bool tunnel);

// Whether connecting to address:port would reach the listener at
// listenerAddress:listenerPort ("this host" included), which would make the
// program relay to itself without end.
bool IsOwnListener(std::uint32_t address, std::uint16_t port, std::uint32_t listenerAddress,
                   std::uint16_t listenerPort);
