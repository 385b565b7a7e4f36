#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "upstream_settings.h"

// The first read of a browser connection, split into the lines of its head.
struct RequestHead {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string targetHost;  // from the last "Host" line; empty when there is none
    int targetPort = 80;
    std::size_t lineCount = 0;  // request line included
    bool complete = false;      // the empty line that ends the head was in the read
    std::size_t consumed = 0;   // bytes of the read taken up by the parsed lines
};

// At most one read's worth of bytes; parsing stops at the first zero byte.
RequestHead ParseRequestHead(std::string_view firstRead);

// The head as sent upstream: request line, every header as "name: value",
// the authentication line when the settings carry one, the empty line.
//
// A head cut off by the size of the first read is not complete: it gets no
// empty line of its own (the browser's own follows with the rest of the head),
// and a read without a single complete line passes through unchanged.
std::string RebuildRequestHead(const RequestHead& head, const UpstreamSettings& upstream);
