#include "http_url.h"

#include <cctype>
#include <string_view>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<HttpUrl> SplitHttpUrl(const std::string& url) {
    HttpUrl parts;
    std::string_view rest(url);
    if (StartsWithNoCase(rest, "http://")) {
        rest.remove_prefix(7);
    } else if (StartsWithNoCase(rest, "https://")) {
        parts.secure = true;
        rest.remove_prefix(8);
    } else {
        return std::nullopt;
    }
    std::size_t hostEnd = rest.find_first_of(":/?#");
    parts.host = rest.substr(0, hostEnd);
    if (parts.host.empty() || parts.host.find('@') != std::string::npos) {
        return std::nullopt;
    }
    rest.remove_prefix(hostEnd == std::string_view::npos ? rest.size() : hostEnd);
    if (!rest.empty() && rest.front() == ':') {
        rest.remove_prefix(1);
        std::uint32_t port = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && digits < 6 && rest[digits] >= '0' && rest[digits] <= '9') {
            port = port * 10 + static_cast<std::uint32_t>(rest[digits] - '0');
            ++digits;
        }
        rest.remove_prefix(digits);
        if (digits == 0 || port == 0 || port > 65535 ||
            (!rest.empty() && rest.front() != '/' && rest.front() != '?' && rest.front() != '#')) {
            return std::nullopt;
        }
        parts.port = static_cast<std::uint16_t>(port);
    }
    rest = rest.substr(0, rest.find('#'));
    parts.path = rest.empty() || rest.front() != '/' ? "/" + std::string(rest) : std::string(rest);
    return parts;
}
