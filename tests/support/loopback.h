// Loopback helpers for tests: a client connection, bounded reads, and a
// stand-in server that answers each connection with a handler of the test's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "socket_shim.h"

namespace testsupport {

// Every receive in a test gives up after this long, so no test can hang.
inline constexpr int kReceiveTimeoutMs = 10000;

// A free port on 127.0.0.1 right now (bound to port 0 and released).
std::uint16_t FreePort();

// A connection to 127.0.0.1:port with the test receive time-out; invalid when
// the connect fails.
net::Socket ConnectLoopback(std::uint16_t port);

bool SendText(const net::Socket& s, const std::string& text);
// Receives until the peer closes (or the time-out / an error ends it).
std::string ReceiveToClose(const net::Socket& s);
// Receives until at least `count` bytes have arrived or the stream ends.
std::string ReceiveCount(const net::Socket& s, std::size_t count);
// Receives one HTTP response whose body is framed by Content-Length or chunks; empty
// when the stream ends before the head does.
std::string ReceiveResponse(const net::Socket& s);
// Receives one HTTP request head and the body its Content-Length announces.
std::string ReceiveRequest(const net::Socket& s);
// The body of a whole response as a browser reads it: after the head, or
// from its chunks.
std::string ResponseBody(const std::string& message);
// True when the peer has closed the connection (a receive returns 0 or fails).
bool PeerClosed(const net::Socket& s);

// Waits (bounded) until pred() holds; returns its last value. The default
// bound is as generous as a receive's: what comes at once on an idle machine
// may take seconds on a busy one.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = kReceiveTimeoutMs);

// Accepts connections on a free loopback port and runs the handler for each
// on its own thread. The destructor stops accepting and joins the handlers.
class LoopbackServer {
public:
    using Handler = std::function<void(net::Socket& connection)>;
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    int Accepted() const { return m_accepted.load(); }

private:
    void AcceptLoop();

    Handler m_handler;
    std::atomic<net::SocketHandle> m_listening{net::kNoSocket};
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

// A response with a Content-Length body.
std::string HttpResponse(const std::string& body, const std::string& extraHeaders = "");

}  // namespace testsupport
