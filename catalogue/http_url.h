// An http:// or https:// URL taken apart for WinINet, which wants the server,
// the port and the object path one by one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct HttpUrl {
    bool secure = false;
    std::string host;
    std::uint16_t port = 0;  // 0: the scheme's default
    std::string path;        // with any query; "/" when the URL has none
};

// Nothing when the URL is not http(s), has no host, or a port that is not a
// number from 1 to 65535.
std::optional<HttpUrl> SplitHttpUrl(const std::string& url);
