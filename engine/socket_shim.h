// Thin layer over the system's sockets: Winsock 1.1 on Windows, POSIX sockets
// elsewhere. The engine only ever talks to sockets through these calls, so the
// same engine source builds for both platforms.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <utility>

namespace net {

// Wide enough for a Winsock SOCKET and a POSIX descriptor; all bits set is
// INVALID_SOCKET on Windows and -1 on POSIX.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1, host order

// WSAStartup(1.1) / WSACleanup on Windows; nothing to do elsewhere.
bool Startup();
void Cleanup();

// socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); kNoSocket on failure.
SocketHandle OpenTcp();
// Listening sockets may be re-bound at once after a restart (TIME_WAIT, a
// closed predecessor), but never while another socket listens on the port,
// and no other program can take the port over while this one is bound.
bool BindIPv4(SocketHandle s, std::uint32_t address, std::uint16_t port);
bool Listen(SocketHandle s, int backlog);
SocketHandle Accept(SocketHandle s);
bool Connect(SocketHandle s, std::uint32_t address, std::uint16_t port);
// A connect that gives up after timeoutMs, or within a fifth of a second of
// a stop request: the socket is connected (and blocking again) only on
// kConnected.
enum class ConnectOutcome { kConnected, kFailed, kTimedOut, kStopped };
ConnectOutcome ConnectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port,
                             int timeoutMs, std::stop_token stop = {});
// The port a bound socket got (for port 0); 0 when unknown.
std::uint16_t LocalPort(SocketHandle s);
// IPv4 address and port, in host order.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};
// Where a socket is bound, and where a connected socket leads.
std::optional<Endpoint> LocalEndpoint(SocketHandle s);
std::optional<Endpoint> PeerEndpoint(SocketHandle s);

// A dotted IPv4 text is used as it stands (inet_addr's forms); anything else
// is looked up, and the first IPv4 address wins. Addresses are in host order.
// Thread-safe.
std::optional<std::uint32_t> ResolveIPv4(const std::string& host);
// The dotted forms alone, without a look-up.
std::optional<std::uint32_t> ParseIPv4(const std::string& host);

// recv: bytes received, 0 when the peer closed, negative on error.
int Receive(SocketHandle s, char* buffer, int length);
// Sends every byte (a blocking send may return early); false on failure. A
// closed peer never raises a signal.
bool SendAll(SocketHandle s, const char* data, std::size_t length);
void ShutdownBoth(SocketHandle s);
// Ends the sending side only: the peer reads end of stream, and what it
// still sends can be received.
void ShutdownSend(SocketHandle s);
// Small relayed writes go out at once instead of waiting for the peer's ACK.
void SetNoDelay(SocketHandle s);
// Probes an idle connection (after a minute, then every ten seconds), so
// that a peer that vanished without a word ends it within two minutes.
void SetKeepAlive(SocketHandle s);
// A receive that waits longer fails as an error (used by tests and probes).
void SetReceiveTimeout(SocketHandle s, int milliseconds);
void Close(SocketHandle s);

// Non-blocking sockets, for one thread that waits on many at once.

// The socket stays non-blocking for good; false on failure.
bool SetNonBlocking(SocketHandle s);
// Starts a connect on a non-blocking socket. kInProgress: WaitForSockets
// finds it ready (for writing) once it has ended, and ConnectSucceeded tells
// how.
enum class ConnectStart { kConnected, kInProgress, kFailed };
ConnectStart StartConnect(SocketHandle s, std::uint32_t address, std::uint16_t port);
bool ConnectSucceeded(SocketHandle s);
// What ReceiveNow and SendNow return when nothing can move without waiting.
inline constexpr int kWouldBlock = -2;
// Bytes received; 0 when the peer closed; kWouldBlock; -1 on an error.
int ReceiveNow(SocketHandle s, char* buffer, int length);
// Bytes sent (maybe fewer than asked); kWouldBlock; -1 on an error. A closed
// peer never raises a signal.
int SendNow(SocketHandle s, const char* data, int length);

struct SocketWait {
    SocketHandle socket = kNoSocket;
    bool write = false;  // waits to send or for a connect to end; else to receive
    bool ready = false;  // set by WaitForSockets: the next call will not block
};
// Winsock's select takes a fixed number of sockets (raised to this from its
// default of 64); the same bound holds everywhere.
inline constexpr std::size_t kMaxWaitSockets = 1024;
// Waits at most timeoutMs (0: only looks) until a socket is ready; an error
// or a closed peer counts as ready. Returns how many are, 0 after the time
// is up (or a signal), -1 on an error, for no socket or for more than
// kMaxWaitSockets.
int WaitForSockets(std::span<SocketWait> sockets, int timeoutMs);

// Makes a thread blocked in Accept on the socket return. Depending on the
// platform this closes the socket (the slot is then cleared) or only shuts it
// down (the owner closes it later through CloseOnce).
void InterruptAccept(std::atomic<SocketHandle>& slot);

// The wait of a connect in progress, the same on every platform: `poll`
// waits at most the time it is given for the socket and says what it saw
// (kTimedOut: nothing yet). Waits come in slices when a stop may come.
template <class Poll>
ConnectOutcome AwaitConnect(int timeoutMs, const std::stop_token& stop, Poll poll) {
    using std::chrono::milliseconds;
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        if (stop.stop_requested()) {
            return ConnectOutcome::kStopped;
        }
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return ConnectOutcome::kTimedOut;
        }
        const ConnectOutcome seen =
            poll(stop.stop_possible() ? std::min(left, milliseconds(200)) : left);
        if (seen != ConnectOutcome::kTimedOut) {
            return seen;
        }
    }
}

// Closes the socket held in the slot, if any; safe to call from several
// threads: only the first call closes it.
inline void CloseOnce(std::atomic<SocketHandle>& slot) {
    SocketHandle s = slot.exchange(kNoSocket);
    if (s != kNoSocket) {
        Close(s);
    }
}

// Holds the socket library open while it lives. Winsock counts its users and
// cancels every socket of the process when the last one leaves, so whatever
// keeps sockets beyond the listener's life holds one of these too.
class SocketLibrary {
public:
    SocketLibrary() : m_started(Startup()) {}
    ~SocketLibrary() {
        if (m_started) {
            Cleanup();
        }
    }
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    bool Started() const { return m_started; }

private:
    bool m_started;
};

// Sole owner of one socket; closes it when destroyed.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle s) : m_handle(s) {}
    Socket(Socket&& other) noexcept : m_handle(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Reset(); }

    SocketHandle Get() const { return m_handle; }
    bool Valid() const { return m_handle != kNoSocket; }
    SocketHandle Release() { return std::exchange(m_handle, kNoSocket); }
    void Reset(SocketHandle s = kNoSocket) {
        SocketHandle old = std::exchange(m_handle, s);
        if (old != kNoSocket) {
            Close(old);
        }
    }

private:
    SocketHandle m_handle = kNoSocket;
};

// A connected pair on this machine, both ends non-blocking: a byte sent on
// one wakes a WaitForSockets that waits on the other. False when none could
// be made.
bool OpenSocketPair(Socket& a, Socket& b);

}  // namespace net
