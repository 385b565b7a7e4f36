#include "loopback.h"

#include <chrono>

namespace testsupport {

// The tests' own sockets need Winsock started too (a no-op elsewhere).
static const bool kSocketsStarted = net::Startup();

std::uint16_t FreePort() {
    net::Socket s(net::OpenTcp());
    if (!s.Valid() || !net::BindIPv4(s.Get(), net::kLoopbackAddress, 0)) {
        return 0;
    }
    return net::LocalPort(s.Get());
}

net::Socket ConnectLoopback(std::uint16_t port) {
    net::Socket s(net::OpenTcp());
    if (!s.Valid() || !net::Connect(s.Get(), net::kLoopbackAddress, port)) {
        return net::Socket();
    }
    net::SetReceiveTimeout(s.Get(), kReceiveTimeoutMs);
    return s;
}

bool SendText(const net::Socket& s, const std::string& text) {
    return net::SendAll(s.Get(), text.data(), text.size());
}

namespace {

// Appends one receive to `out`; false when the stream has ended.
bool ReceiveMore(const net::Socket& s, std::string& out) {
    char buffer[65536];
    int n = net::Receive(s.Get(), buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    out.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::size_t ContentLength(const std::string& head) {
    std::size_t at = head.find("\r\nContent-Length:");
    if (at == std::string::npos) {
        return 0;
    }
    return std::stoul(head.substr(at + 17));
}

bool IsChunked(std::string_view head) {
    return head.find("\r\nTransfer-Encoding: chunked\r\n") != std::string_view::npos;
}

// Walks the chunks from `at`: where the message ends, or npos while it has
// not all arrived. The body goes to `body` when given.
std::size_t ChunkedEnd(const std::string& data, std::size_t at, std::string* body) {
    for (;;) {
        const std::size_t line = data.find("\r\n", at);
        if (line == std::string::npos) {
            return std::string::npos;
        }
        const std::size_t size = std::stoul(data.substr(at, line - at), nullptr, 16);
        if (size == 0) {
            return data.size() >= line + 4 ? line + 4 : std::string::npos;  // no trailers
        }
        if (data.size() < line + 2 + size + 2) {
            return std::string::npos;
        }
        if (body != nullptr) {
            body->append(data, line + 2, size);
        }
        at = line + 2 + size + 2;
    }
}

// One message: its head up to the empty line and the body its
// Content-Length or its chunks frame.
std::string ReceiveMessage(const net::Socket& s) {
    std::string data;
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!ReceiveMore(s, data)) {
            return {};
        }
    }
    if (IsChunked(std::string_view(data).substr(0, headEnd + 2))) {
        while (ChunkedEnd(data, headEnd + 4, nullptr) == std::string::npos &&
               ReceiveMore(s, data)) {
        }
        return data;
    }
    std::size_t total = headEnd + 4 + ContentLength(data.substr(0, headEnd + 2));
    while (data.size() < total && ReceiveMore(s, data)) {
    }
    return data;
}

}  // namespace

std::string ReceiveToClose(const net::Socket& s) {
    std::string data;
    while (ReceiveMore(s, data)) {
    }
    return data;
}

std::string ReceiveCount(const net::Socket& s, std::size_t count) {
    std::string data;
    while (data.size() < count && ReceiveMore(s, data)) {
    }
    return data;
}

std::string ReceiveResponse(const net::Socket& s) {
    return ReceiveMessage(s);
}
std::string ReceiveRequest(const net::Socket& s) {
    return ReceiveMessage(s);
}

std::string ResponseBody(const std::string& message) {
    const std::size_t headEnd = message.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return {};
    }
    if (!IsChunked(std::string_view(message).substr(0, headEnd + 2))) {
        return message.substr(headEnd + 4);
    }
    std::string body;
    ChunkedEnd(message, headEnd + 4, &body);
    return body;
}

bool PeerClosed(const net::Socket& s) {
    char c;
    return net::Receive(s.Get(), &c, 1) <= 0;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

LoopbackServer::LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
    net::SocketHandle s = net::OpenTcp();
    if (s != net::kNoSocket && net::BindIPv4(s, net::kLoopbackAddress, 0) && net::Listen(s, 64)) {
        m_port = net::LocalPort(s);
    }
    m_listening.store(s);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    m_stopping.store(true);
    net::InterruptAccept(m_listening);
    m_acceptor.join();
    net::CloseOnce(m_listening);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& t : m_workers) {
        t.join();
    }
}

void LoopbackServer::AcceptLoop() {
    while (!m_stopping.load()) {
        net::SocketHandle listening = m_listening.load();
        if (listening == net::kNoSocket) {
            return;
        }
        net::Socket connection(net::Accept(listening));
        if (m_stopping.load() || !connection.Valid()) {
            return;
        }
        ++m_accepted;
        net::SetReceiveTimeout(connection.Get(), kReceiveTimeoutMs);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workers.emplace_back([this, c = std::move(connection)]() mutable { m_handler(c); });
    }
}

std::string HttpResponse(const std::string& body, const std::string& extraHeaders) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           extraHeaders + "\r\n" + body;
}

}  // namespace testsupport
