// The stand-in upstream proxy of the soak runs and the browser side that
// talks to the engine: resources whose every byte follows from their path,
// so that a response can be checked byte for byte.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "soak.h"

namespace soak {

namespace {

// Pieces the bodies are made of, as sent and as the content filter with
// every rule on gives them to the browser.
struct Piece {
    const char* sent;
    const char* filtered;
};
constexpr Piece kPieces[] = {
    {"<p>A paragraph of plain words.</p>\n", "<p>A paragraph of plain words.</p>\n"},
    {"<script>var n = 1 < 2;</script>\n", "<noscript>var n = 1 < 2;</noscript> \n"},
    {"<object data=\"x.swf\"></object>\n", "<noobj  data=\"x.swf\"></noobj> \n"},
    {"<a onclick=\"window.open('/p')\">pop</a>\n", "<a onclick=\"//ndow.open('/p')\">pop</a>\n"},
    {"<div class=\"w\">a < b and c > d</div>\n", "<div class=\"w\">a < b and c > d</div>\n"},
    {"<scrip>not a tag we know</scrip>\n", "<scrip>not a tag we know</scrip>\n"},
};
constexpr std::size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];

constexpr const char* kHost = "soak.test";
constexpr int kUpstreamTimeoutMs = 20000;

void SetTimeouts(net::SocketHandle s, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

std::string Hex(std::size_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
}

// Reads one request head; empty when the connection ends or times out first.
std::string ReceiveHead(net::SocketHandle s) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        int n = net::Receive(s, buffer, sizeof buffer);
        if (n <= 0) {
            return {};
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return head;
}

// "GET http://soak.test/PATH HTTP/1.1" -> "/PATH"
std::string_view RequestPath(std::string_view head) {
    std::string_view line = head.substr(0, head.find("\r\n"));
    std::size_t start = line.find(' ');
    std::size_t end = line.rfind(' ');
    if (start == std::string_view::npos || end <= start) {
        return {};
    }
    std::string_view target = line.substr(start + 1, end - start - 1);
    std::size_t scheme = target.find("://");
    if (scheme != std::string_view::npos) {
        std::size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    return target;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The value of the first header of that name; `found` tells whether there is one.
std::string HeaderValue(std::string_view head, std::string_view name, bool& found) {
    found = false;
    std::size_t pos = head.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < head.size()) {
        std::size_t next = head.find("\r\n", pos + 2);
        std::string_view line = head.substr(
            pos + 2, next == std::string_view::npos ? std::string_view::npos : next - pos - 2);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && Lower(line.substr(0, colon)) == Lower(name)) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            found = true;
            return std::string(value);
        }
        pos = next;
    }
    return {};
}

// Decodes a chunked body from `data`; how many bytes it took, or npos while
// it is incomplete, or npos - 1 when it is malformed.
constexpr std::size_t kIncomplete = std::string::npos;
constexpr std::size_t kMalformed = std::string::npos - 1;
std::size_t DecodeChunked(std::string_view data, std::string& content) {
    content.clear();
    std::size_t pos = 0;
    for (;;) {
        std::size_t lineEnd = data.find("\r\n", pos);
        if (lineEnd == std::string_view::npos) {
            return kIncomplete;
        }
        char* end = nullptr;
        const std::string sizeText(data.substr(pos, lineEnd - pos));
        const unsigned long long size = std::strtoull(sizeText.c_str(), &end, 16);
        if (end == sizeText.c_str()) {
            return kMalformed;
        }
        pos = lineEnd + 2;
        if (size == 0) {
            // No trailers are ever sent: the empty line ends the body.
            if (data.size() < pos + 2) {
                return kIncomplete;
            }
            return data.substr(pos, 2) == "\r\n" ? pos + 2 : kMalformed;
        }
        if (data.size() < pos + size + 2) {
            return kIncomplete;
        }
        content.append(data.substr(pos, size));
        if (data.substr(pos + size, 2) != "\r\n") {
            return kMalformed;
        }
        pos += size + 2;
    }
}

}  // namespace

// ---- resources ------------------------------------------------------------------

std::string Resource::Path() const {
    char text[96];
    std::snprintf(text, sizeof text, "/r/%u/%zu/%c/%c/%c", seed, size, static_cast<char>(framing),
                  html ? 'h' : 'b', static_cast<char>(cut));
    return text;
}

bool Resource::FromPath(std::string_view path, Resource& out) {
    unsigned seed = 0;
    std::size_t size = 0;
    char framing = 0, kind = 0, cut = 0;
    const std::string text(path);
    if (std::sscanf(text.c_str(), "/r/%u/%zu/%c/%c/%c", &seed, &size, &framing, &kind, &cut) != 5) {
        return false;
    }
    out.seed = seed;
    out.size = size;
    out.framing = static_cast<Framing>(framing);
    out.html = kind == 'h';
    out.cut = static_cast<Cut>(cut);
    return (framing == 'l' || framing == 'c' || framing == 'u') &&
           (cut == 'n' || (cut >= '0' && cut <= '2'));
}

std::string Resource::Request(bool keepAlive) const {
    return std::string("GET http://") + kHost + Path() + " HTTP/1.1\r\nHost: " + kHost +
           "\r\nUser-Agent: quillon-soak\r\n" + (keepAlive ? "" : "Connection: close\r\n") + "\r\n";
}

Expected Build(const Resource& resource) {
    Expected e;
    Random random(resource.seed);
    while (e.content.size() < resource.size) {
        // Mostly plain pieces, and now and then a run of letters.
        const std::uint64_t pick = random.Next() % (kPieceCount + 2);
        if (pick < kPieceCount) {
            e.content += kPieces[pick].sent;
            e.filtered += kPieces[pick].filtered;
        } else {
            std::string letters(random.Between(1, 200), 'x');
            for (char& c : letters) {
                c = static_cast<char>('a' + random.Next() % 26);
            }
            letters += '\n';
            e.content += letters;
            e.filtered += letters;
        }
    }
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: ";
    head += resource.html ? "text/html; charset=utf-8" : "application/octet-stream";
    head += "\r\nX-Soak: " + std::to_string(resource.seed) + "\r\n";
    std::string body;
    switch (resource.framing) {
        case Framing::Length:
            head += "Content-Length: " + std::to_string(e.content.size()) + "\r\n";
            body = e.content;
            break;
        case Framing::Chunked: {
            head += "Transfer-Encoding: chunked\r\n";
            std::size_t pos = 0;
            while (pos < e.content.size()) {
                const std::size_t n =
                    std::min<std::size_t>(random.Between(1, 40000), e.content.size() - pos);
                body += Hex(n) + "\r\n" + e.content.substr(pos, n) + "\r\n";
                pos += n;
            }
            body += "0\r\n\r\n";
            break;
        }
        case Framing::UntilClose:
            head += "Connection: close\r\n";
            body = e.content;
            break;
    }
    head += "\r\n";
    e.response = head + body;
    switch (resource.cut) {
        case Cut::None:
            e.cutAt = e.response.size();
            break;
        case Cut::BeforeHead:
            e.cutAt = 0;
            break;
        case Cut::MidHead:
            e.cutAt = random.Between(1, head.size() - 1);
            break;
        case Cut::MidBody:
            e.cutAt = body.size() < 2 ? head.size() - 1
                                      : head.size() + random.Between(1, body.size() - 1);
            break;
    }
    return e;
}

// ---- the upstream -----------------------------------------------------------------

Upstream::Upstream(int threads) {
    net::Socket s(net::OpenTcp());
    if (!s.Valid() || !net::BindIPv4(s.Get(), net::kLoopbackAddress, 0) ||
        !net::Listen(s.Get(), 1024)) {
        return;
    }
    m_port = net::LocalPort(s.Get());
    m_listening = std::move(s);
    for (int i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { Serve(); });
    }
}

Upstream::~Upstream() {
    m_stopping.store(true);
    if (m_listening.Valid()) {
        // Wakes every thread blocked in accept.
        ::shutdown(static_cast<int>(m_listening.Get()), SHUT_RDWR);
    }
    for (std::thread& t : m_threads) {
        t.join();
    }
}

void Upstream::Serve() {
    while (!m_stopping.load()) {
        net::Socket connection(net::Accept(m_listening.Get()));
        if (!connection.Valid()) {
            if (m_stopping.load()) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        SetTimeouts(connection.Get(), kUpstreamTimeoutMs);
        Handle(connection);
    }
}

void Upstream::Handle(net::Socket& connection) {
    for (;;) {
        const std::string head = ReceiveHead(connection.Get());
        if (head.empty()) {
            return;  // the engine closed, or a reachability check
        }
        Resource resource;
        if (!Resource::FromPath(RequestPath(head), resource)) {
            SendText(connection.Get(), "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            continue;
        }
        ++m_served;
        const Expected expected = Build(resource);
        const std::string_view out = std::string_view(expected.response).substr(0, expected.cutAt);
        errno = 0;
        if (!SendText(connection.Get(), out)) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                ++m_stuckSends;
            }
            return;  // the engine let go of the connection: fine
        }
        if (resource.cut != Cut::None || resource.framing == Framing::UntilClose) {
            return;  // the close ends it
        }
    }
}

// ---- the browser side -----------------------------------------------------------------

net::Socket Connect(std::uint16_t port) {
    net::Socket s(net::OpenTcp());
    if (!s.Valid() || !net::Connect(s.Get(), net::kLoopbackAddress, port)) {
        return net::Socket();
    }
    SetTimeouts(s.Get(), kClientTimeoutMs);
    return s;
}

bool SendText(net::SocketHandle s, std::string_view text) {
    return net::SendAll(s, text.data(), text.size());
}

void Abort(net::Socket& s) {
    linger hard{1, 0};
    ::setsockopt(static_cast<int>(s.Get()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    s.Reset();
}

int ResponseReader::Fill() {
    char buffer[65536];
    int n = net::Receive(m_socket, buffer, sizeof buffer);
    if (n > 0) {
        m_buffer.append(buffer, static_cast<std::size_t>(n));
        return n;
    }
    if (n == 0) {
        return 0;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : -2;
}

Response ResponseReader::Read() {
    Response r;
    auto more = [&] {
        int n = Fill();
        if (n == -1) {
            r.timedOut = true;
        } else if (n <= 0) {
            r.ended = true;
        }
        return n > 0;
    };
    std::size_t headEnd;
    while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!more()) {
            r.raw = std::exchange(m_buffer, {});
            return r;
        }
    }
    headEnd += 4;
    const std::string_view head = std::string_view(m_buffer).substr(0, headEnd);
    r.status = std::atoi(std::string(head.substr(head.find(' ') + 1, 3)).c_str());
    bool found = false;
    r.contentType = HeaderValue(head, "Content-Type", found);
    const std::string length = HeaderValue(head, "Content-Length", found);
    const bool hasLength = found;
    const bool chunked = Lower(HeaderValue(head, "Transfer-Encoding", found)) == "chunked";
    std::size_t total = 0;
    if (chunked) {
        for (;;) {
            const std::size_t used =
                DecodeChunked(std::string_view(m_buffer).substr(headEnd), r.content);
            if (used == kMalformed) {
                r.raw = std::exchange(m_buffer, {});
                return r;
            }
            if (used != kIncomplete) {
                total = headEnd + used;
                r.complete = true;
                break;
            }
            if (!more()) {
                r.raw = std::exchange(m_buffer, {});
                return r;
            }
        }
    } else if (hasLength) {
        total = headEnd + std::strtoull(length.c_str(), nullptr, 10);
        while (m_buffer.size() < total) {
            if (!more()) {
                r.raw = std::exchange(m_buffer, {});
                return r;
            }
        }
        r.content = m_buffer.substr(headEnd, total - headEnd);
        r.complete = true;
    } else {
        while (more()) {
        }
        if (r.timedOut) {
            r.raw = std::exchange(m_buffer, {});
            return r;
        }
        total = m_buffer.size();
        r.content = m_buffer.substr(headEnd);
        r.complete = true;
    }
    r.raw = m_buffer.substr(0, total);
    m_buffer.erase(0, total);
    return r;
}

Response ResponseReader::ReadToEnd() {
    Response r;
    for (;;) {
        int n = Fill();
        if (n == -1) {
            r.timedOut = true;
            break;
        }
        if (n <= 0) {
            r.ended = true;
            break;
        }
    }
    r.raw = std::exchange(m_buffer, {});
    return r;
}

std::string ResponseReader::ReadSome(std::size_t count, bool& timedOut) {
    timedOut = false;
    while (m_buffer.size() < count) {
        int n = Fill();
        if (n <= 0) {
            timedOut = n == -1;
            break;
        }
    }
    return m_buffer;
}

std::string CheckResponse(const Resource& resource, const Expected& expected,
                          const Response& response, bool filtered) {
    const std::string name = resource.Path();
    if (response.timedOut) {
        return name + ": no answer within " + std::to_string(kClientTimeoutMs / 1000) + " s (" +
               std::to_string(response.raw.size()) + " bytes came)";
    }
    if (!response.complete) {
        return name + ": the connection ended after " + std::to_string(response.raw.size()) +
               " of " + std::to_string(expected.response.size()) + " bytes";
    }
    if (filtered && resource.html) {
        // The filter sends the rewritten body with a Content-Length of its own.
        if (response.status != 200 || response.contentType.rfind("text/html", 0) != 0) {
            return name + ": filtered response has status " + std::to_string(response.status) +
                   ", type " + response.contentType;
        }
        if (response.content != expected.filtered) {
            return name + ": filtered body differs (" + std::to_string(response.content.size()) +
                   " bytes, expected " + std::to_string(expected.filtered.size()) + ")";
        }
        return {};
    }
    if (response.raw != expected.response) {
        std::size_t at = 0;
        while (at < response.raw.size() && at < expected.response.size() &&
               response.raw[at] == expected.response[at]) {
            ++at;
        }
        return name + ": response differs from byte " + std::to_string(at) + " (" +
               std::to_string(response.raw.size()) + " bytes, expected " +
               std::to_string(expected.response.size()) + ")";
    }
    return {};
}

std::string CheckCutResponse(const Resource& resource, const Expected& expected,
                             std::string_view raw, bool filtered) {
    const std::string name = resource.Path();
    const std::size_t headSize = expected.response.find("\r\n\r\n") + 4;
    const std::string_view sent = std::string_view(expected.response).substr(0, expected.cutAt);
    if (filtered && expected.cutAt > 0 && expected.cutAt < headSize) {
        // A head cut short is never passed on unchecked while the filter is
        // on: the browser gets its 502 instead.
        if (!raw.starts_with("HTTP/1.1 502 Bad Gateway\r\n")) {
            return name + ": a head cut short came through unchecked";
        }
        return {};
    }
    if (!filtered || !resource.html || expected.cutAt <= headSize) {
        if (raw != sent) {
            return name + ": got " + std::to_string(raw.size()) +
                   " bytes before the end, the upstream sent " + std::to_string(sent.size()) +
                   " (or they differ)";
        }
        return {};
    }
    const std::size_t end = raw.find("\r\n\r\n");
    if (!raw.starts_with("HTTP/1.1 200 OK\r\n") || end == std::string_view::npos ||
        raw.substr(0, end).find("Transfer-Encoding: chunked") == std::string_view::npos) {
        return name + ": a cut HTML body did not come reframed";
    }
    std::string content;
    bool last = false;
    for (std::size_t at = end + 4; at < raw.size() && !last;) {
        const std::size_t line = raw.find("\r\n", at);
        std::size_t size = 0;
        if (line == std::string_view::npos ||
            std::from_chars(raw.data() + at, raw.data() + line, size, 16).ptr !=
                raw.data() + line ||
            raw.size() < line + 2 + size + 2) {
            return name + ": a cut HTML body ends inside a chunk";
        }
        content.append(raw.substr(line + 2, size));
        last = size == 0;
        at = line + 2 + size + 2;
    }
    // The body's own end (the close, for a body that has no other) brings the
    // last chunk; any other cut ends the stream before it.
    if (last != (resource.framing == Framing::UntilClose)) {
        return name + (last ? ": a cut body ended with the last chunk"
                            : ": a body ended by the close lacks its last chunk");
    }
    // Rewritten as far as it came: a found text cut by the close is not
    // rewritten, so only the very end may differ from the whole page's text.
    const std::size_t sure = content.size() < 16 ? 0 : content.size() - 16;
    if (content.size() > expected.filtered.size() + 16 ||
        std::string_view(content).substr(0, sure) !=
            std::string_view(expected.filtered).substr(0, sure)) {
        return name + ": a cut HTML body differs from the rewritten page";
    }
    return {};
}

}  // namespace soak
