// Small parsers shared by the benchmark's helper programs; kept apart from
// the programs so that they can be tested on their own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bench {

// A whole number in plain decimal within [min, max]: no sign, no spaces, no
// trailing characters.
std::optional<long> ParseNumber(std::string_view text, long min, long max);

// A TCP port in plain decimal, 0..65535 (0 asks for any free port). No sign,
// no spaces, no trailing characters.
std::optional<int> ParsePort(std::string_view text);

struct HostPort {
    std::string host;
    int port = 0;
};

// "host:port" with a non-empty host and a port of 1..65535; the port is what
// follows the last colon.
std::optional<HostPort> ParseHostPort(std::string_view text);

enum class ResponseState {
    kIncomplete,  // more bytes are needed
    kComplete,    // exactly one whole response
    kUnusable,    // a response the connection cannot be held after
};

// Judges the bytes received so far on a connection that sent one GET. Only a
// 200 response framed by Content-Length leaves the connection reusable, so
// anything else (another status, chunked or close-delimited bodies, bytes
// past the body) is unusable.
ResponseState CheckResponse(std::string_view received);

// The VmRSS figure, in KiB, from the text of /proc/PID/status.
std::optional<long> ParseVmRssKiB(std::string_view statusText);

}  // namespace bench
