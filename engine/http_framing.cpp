#include "http_framing.h"

#include <charconv>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool IsTokenChar(char c) {
    return c > 32 && c < 127 && c != ':' && c != '(' && c != ')' && c != '<' && c != '>' &&
           c != '@' && c != ',' && c != ';' && c != '\\' && c != '"' && c != '/' && c != '[' &&
           c != ']' && c != '?' && c != '=' && c != '{' && c != '}';
}

// The last coding of a Transfer-Encoding list.
std::string_view LastCoding(std::string_view list) {
    std::size_t comma = list.rfind(',');
    return Trim(comma == std::string_view::npos ? list : list.substr(comma + 1));
}

// A Content-Length made of digits only; repeated values must agree.
std::optional<std::uint64_t> ContentLength(const HttpHead& head) {
    std::optional<std::uint64_t> length;
    for (const auto& [name, value] : head.headers) {
        if (!EqualNoCase(name, "Content-Length")) {
            continue;
        }
        std::uint64_t n = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || value.empty() ||
            (length && *length != n)) {
            return std::nullopt;
        }
        length = n;
    }
    return length;
}

bool HasContentLength(const HttpHead& head) {
    return head.Header("Content-Length").has_value();
}

}  // namespace

std::string MediaType(std::string_view contentType) {
    std::string type(Trim(contentType.substr(0, contentType.find(';'))));
    for (char& c : type) {
        c = AsciiLower(c);
    }
    return type;
}

std::size_t FindHeadEnd(std::string_view buffer, std::size_t searched) {
    // An end that the new bytes complete starts at most two bytes back.
    const std::size_t from = searched < 2 ? 0 : searched - 2;
    for (std::size_t at = buffer.find('\n', from); at != std::string_view::npos;
         at = buffer.find('\n', at + 1)) {
        std::size_t next = at + 1;
        if (next < buffer.size() && buffer[next] == '\n') {
            return next + 1;
        }
        if (next + 1 < buffer.size() && buffer[next] == '\r' && buffer[next + 1] == '\n') {
            return next + 2;
        }
    }
    return std::string_view::npos;
}

std::optional<std::string_view> HttpHead::Header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (EqualNoCase(n, name)) {
            return std::string_view(v);
        }
    }
    return std::nullopt;
}

std::string HttpHead::JoinedHeader(std::string_view name) const {
    std::string joined;
    for (const auto& [n, v] : headers) {
        if (EqualNoCase(n, name)) {
            joined += joined.empty() ? v : ", " + v;
        }
    }
    return joined;
}

std::optional<HttpHead> ParseHead(std::string_view head) {
    HttpHead parsed;
    bool first = true;
    while (!head.empty()) {
        std::size_t lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        head.remove_prefix(lf == std::string_view::npos ? head.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (first) {
            if (line.empty() || line.find("HTTP/1.") == std::string_view::npos) {
                return std::nullopt;
            }
            parsed.startLine = line;
            first = false;
            continue;
        }
        if (line.empty()) {
            break;
        }
        std::size_t colon = line.find(':');
        // Folded continuation lines and names with blanks are refused: a
        // stream that sends them cannot be followed safely.
        if (colon == 0 || colon == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view name = line.substr(0, colon);
        for (char c : name) {
            if (!IsTokenChar(c)) {
                return std::nullopt;
            }
        }
        parsed.headers.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
    }
    if (first) {
        return std::nullopt;
    }
    return parsed;
}

std::string_view RequestMethod(const HttpHead& head) {
    std::string_view line = head.startLine;
    return line.substr(0, line.find(' '));
}

int ResponseStatus(const HttpHead& head) {
    std::string_view line = head.startLine;
    if (!line.starts_with("HTTP/1.")) {
        return 0;
    }
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) {
        return 0;
    }
    int status = 0;
    auto [end, ec] = std::from_chars(line.data() + space + 1, line.data() + space + 4, status);
    return ec == std::errc() && end == line.data() + space + 4 && status >= 100 ? status : 0;
}

BodyFraming RequestBodyFraming(const HttpHead& head) {
    if (head.Header("Transfer-Encoding")) {
        return EqualNoCase(LastCoding(head.JoinedHeader("Transfer-Encoding")), "chunked")
                   ? BodyFraming{BodyKind::Chunked, 0}
                   : BodyFraming{BodyKind::Invalid, 0};
    }
    if (HasContentLength(head)) {
        auto length = ContentLength(head);
        return length ? BodyFraming{BodyKind::Length, *length} : BodyFraming{BodyKind::Invalid, 0};
    }
    if (EqualNoCase(RequestMethod(head), "CONNECT")) {
        return {BodyKind::Tunnel, 0};
    }
    return {BodyKind::None, 0};
}

BodyFraming ResponseBodyFraming(const HttpHead& head, std::string_view method) {
    const int status = ResponseStatus(head);
    if (status == 0) {
        return {BodyKind::Invalid, 0};
    }
    if (status == 101 || (EqualNoCase(method, "CONNECT") && status >= 200 && status < 300)) {
        return {BodyKind::Tunnel, 0};
    }
    if (status < 200 || status == 204 || status == 304 || EqualNoCase(method, "HEAD")) {
        return {BodyKind::None, 0};
    }
    if (head.Header("Transfer-Encoding")) {
        return EqualNoCase(LastCoding(head.JoinedHeader("Transfer-Encoding")), "chunked")
                   ? BodyFraming{BodyKind::Chunked, 0}
                   : BodyFraming{BodyKind::UntilClose, 0};
    }
    if (HasContentLength(head)) {
        auto length = ContentLength(head);
        return length ? BodyFraming{BodyKind::Length, *length} : BodyFraming{BodyKind::Invalid, 0};
    }
    return {BodyKind::UntilClose, 0};
}

std::size_t ChunkedDecoder::Feed(std::string_view data, std::string* content) {
    std::size_t i = 0;
    while (i < data.size() && m_state != State::Done && m_state != State::Failed) {
        const char c = data[i];
        switch (m_state) {
            case State::Size: {
                int digit = c >= '0' && c <= '9' ? c - '0'
                            : AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f'
                                ? AsciiLower(c) - 'a' + 10
                                : -1;
                if (digit >= 0) {
                    if (++m_digits > 15) {
                        m_state = State::Failed;
                        break;
                    }
                    m_size = m_size * 16 + static_cast<std::uint64_t>(digit);
                } else if (m_digits == 0) {
                    m_state = State::Failed;
                } else if (c == ';' || c == ' ' || c == '\t') {
                    m_state = State::Extension;
                } else if (c == '\r') {
                    m_state = State::SizeLf;
                } else if (c == '\n') {
                    m_state = m_size == 0 ? State::Trailer : State::Data;
                } else {
                    m_state = State::Failed;
                }
                ++i;
                break;
            }
            case State::Extension:
                if (c == '\n') {
                    m_state = m_size == 0 ? State::Trailer : State::Data;
                }
                ++i;
                break;
            case State::SizeLf:
                m_state = c != '\n' ? State::Failed : m_size == 0 ? State::Trailer : State::Data;
                ++i;
                break;
            case State::Data: {
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(m_size, data.size() - i));
                if (content != nullptr) {
                    content->append(data.substr(i, take));
                }
                m_size -= take;
                i += take;
                if (m_size == 0) {
                    m_state = State::DataCr;
                }
                break;
            }
            case State::DataCr:
                m_state = c == '\r' ? State::DataLf : c == '\n' ? State::Size : State::Failed;
                m_digits = 0;
                ++i;
                break;
            case State::DataLf:
                m_state = c == '\n' ? State::Size : State::Failed;
                ++i;
                break;
            case State::Trailer:
                // Trailer lines until an empty one.
                if (c == '\n') {
                    m_state = m_trailerLine == 0 ? State::Done : State::Trailer;
                    m_trailerLine = 0;
                } else if (c != '\r') {
                    ++m_trailerLine;
                }
                ++i;
                break;
            case State::Done:
            case State::Failed:
                break;
        }
    }
    return i;
}

std::size_t BodyReader::Feed(std::string_view data, std::string* content) {
    switch (m_framing.kind) {
        case BodyKind::Length: {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_remaining, data.size()));
            if (content != nullptr) {
                content->append(data.substr(0, take));
            }
            m_remaining -= take;
            return take;
        }
        case BodyKind::Chunked:
            return m_chunked.Feed(data, content);
        case BodyKind::UntilClose:
        case BodyKind::Tunnel:
        case BodyKind::Invalid:
            if (content != nullptr) {
                content->append(data);
            }
            return data.size();
        case BodyKind::None:
            return 0;
    }
    return 0;
}

bool BodyReader::Done() const {
    switch (m_framing.kind) {
        case BodyKind::None:
            return true;
        case BodyKind::Length:
            return m_remaining == 0;
        case BodyKind::Chunked:
            return m_chunked.Done();
        default:
            return false;
    }
}
