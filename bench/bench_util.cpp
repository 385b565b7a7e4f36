#include "bench_util.h"

#include <cctype>
#include <charconv>

namespace bench {
namespace {

// Plain decimal digits only; from_chars alone would also take a partial
// match such as "80x".
std::optional<long long> ParseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    long long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A head larger than this is not what the origin sends; stop waiting for it.
constexpr std::size_t kMaxHead = 16384;

}  // namespace

std::optional<long> ParseNumber(std::string_view text, long min, long max) {
    auto value = ParseDecimal(text);
    if (!value || *value < min || *value > max) {
        return std::nullopt;
    }
    return static_cast<long>(*value);
}

std::optional<int> ParsePort(std::string_view text) {
    auto value = ParseNumber(text, 0, 65535);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<HostPort> ParseHostPort(std::string_view text) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    auto port = ParsePort(text.substr(colon + 1));
    if (!port || *port == 0) {
        return std::nullopt;
    }
    return HostPort{std::string(text.substr(0, colon)), *port};
}

ResponseState CheckResponse(std::string_view received) {
    std::size_t headEnd = received.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) {
        return received.size() > kMaxHead ? ResponseState::kUnusable : ResponseState::kIncomplete;
    }
    std::string_view head = received.substr(0, headEnd + 2);  // every line ends in CRLF

    std::size_t lineEnd = head.find("\r\n");
    std::string_view status = head.substr(0, lineEnd);
    // "HTTP/1.x 200" followed by the end of the line or a reason phrase.
    if (status.size() < 12 || status.substr(0, 7) != "HTTP/1." || status[8] != ' ' ||
        status.substr(9, 3) != "200" || (status.size() > 12 && status[12] != ' ')) {
        return ResponseState::kUnusable;
    }

    std::optional<long long> length;
    std::size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 2;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return ResponseState::kUnusable;
        }
        std::string_view name = line.substr(0, colon);
        std::string_view value = Trim(line.substr(colon + 1));
        if (EqualsNoCase(name, "Transfer-Encoding")) {
            return ResponseState::kUnusable;
        }
        if (EqualsNoCase(name, "Content-Length")) {
            auto parsed = ParseDecimal(value);
            if (!parsed || (length && *length != *parsed)) {
                return ResponseState::kUnusable;
            }
            length = parsed;
        }
    }
    if (!length) {
        return ResponseState::kUnusable;
    }
    std::size_t total = headEnd + 4 + static_cast<std::size_t>(*length);
    if (received.size() < total) {
        return ResponseState::kIncomplete;
    }
    return received.size() == total ? ResponseState::kComplete : ResponseState::kUnusable;
}

std::optional<long> ParseVmRssKiB(std::string_view statusText) {
    std::size_t pos = 0;
    while (pos < statusText.size()) {
        std::size_t end = statusText.find('\n', pos);
        if (end == std::string_view::npos) {
            end = statusText.size();
        }
        std::string_view line = statusText.substr(pos, end - pos);
        pos = end + 1;
        if (line.substr(0, 6) != "VmRSS:") {
            continue;
        }
        std::string_view rest = Trim(line.substr(6));
        std::size_t space = rest.find(' ');
        if (space == std::string_view::npos || Trim(rest.substr(space)) != "kB") {
            return std::nullopt;
        }
        auto value = ParseDecimal(rest.substr(0, space));
        if (!value) {
            return std::nullopt;
        }
        return static_cast<long>(*value);
    }
    return std::nullopt;
}

}  // namespace bench
