#include "socket_shim.h"

// Before winsock2.h: its select takes up to this many sockets a set.
#define FD_SETSIZE 1024
#include <winsock2.h>
// After winsock2.h, which it needs.
#include <mstcpip.h>

#include <chrono>
#include <cstring>

namespace net {
namespace {

SOCKET Sock(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

}  // namespace

bool Startup() {
    WSADATA data;
    return WSAStartup(0x0101, &data) == 0;
}

void Cleanup() {
    WSACleanup();
}

SocketHandle OpenTcp() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

bool BindIPv4(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    // Without it, another program binding with SO_REUSEADDR could take the
    // port, and the browser's traffic with it, while this socket holds it.
    BOOL on = TRUE;
    ::setsockopt(Sock(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
    sockaddr_in sa = MakeAddress(address, port);
    return ::bind(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle s, int backlog) {
    return ::listen(Sock(s), backlog) == 0;
}

SocketHandle Accept(SocketHandle s) {
    SOCKET a = ::accept(Sock(s), nullptr, nullptr);
    return a == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(a);
}

bool Connect(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

ConnectOutcome ConnectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port,
                             int timeoutMs, std::stop_token stop) {
    u_long nonBlocking = 1;
    if (::ioctlsocket(Sock(s), FIONBIO, &nonBlocking) != 0) {
        return ConnectOutcome::kFailed;
    }
    sockaddr_in sa = MakeAddress(address, port);
    ConnectOutcome outcome = ConnectOutcome::kConnected;
    if (::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        outcome = ::WSAGetLastError() != WSAEWOULDBLOCK
                      ? ConnectOutcome::kFailed
                      : AwaitConnect(timeoutMs, stop, [s](std::chrono::milliseconds slice) {
                            // Winsock reports a failed connect in the exception set.
                            fd_set writable, failed;
                            FD_ZERO(&writable);
                            FD_ZERO(&failed);
                            FD_SET(Sock(s), &writable);
                            FD_SET(Sock(s), &failed);
                            const auto ms = slice.count();
                            timeval limit{static_cast<long>(ms / 1000),
                                          static_cast<long>(ms % 1000) * 1000};
                            const int ready = ::select(0, nullptr, &writable, &failed, &limit);
                            if (ready == 0) {
                                return ConnectOutcome::kTimedOut;
                            }
                            return ready > 0 && FD_ISSET(Sock(s), &writable)
                                       ? ConnectOutcome::kConnected
                                       : ConnectOutcome::kFailed;
                        });
    }
    nonBlocking = 0;
    ::ioctlsocket(Sock(s), FIONBIO, &nonBlocking);
    return outcome;
}

std::uint16_t LocalPort(SocketHandle s) {
    const std::optional<Endpoint> local = LocalEndpoint(s);
    return local ? local->port : 0;
}

namespace {
std::optional<Endpoint> EndpointOf(int(WSAAPI* query)(SOCKET, sockaddr*, int*), SocketHandle s) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (query(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET) {
        return std::nullopt;
    }
    return Endpoint{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}
}  // namespace

std::optional<Endpoint> LocalEndpoint(SocketHandle s) {
    return EndpointOf(::getsockname, s);
}

std::optional<Endpoint> PeerEndpoint(SocketHandle s) {
    return EndpointOf(::getpeername, s);
}

std::optional<std::uint32_t> ParseIPv4(const std::string& host) {
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted == INADDR_NONE) {
        return std::nullopt;
    }
    return ntohl(dotted);
}

std::optional<std::uint32_t> ResolveIPv4(const std::string& host) {
    if (const std::optional<std::uint32_t> dotted = ParseIPv4(host)) {
        return dotted;
    }
    // Winsock keeps gethostbyname's result per thread, so this is thread-safe.
    const hostent* found = ::gethostbyname(host.c_str());
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr) {
        return std::nullopt;
    }
    in_addr first;
    memcpy(&first, found->h_addr_list[0], sizeof first);
    return ntohl(first.s_addr);
}

int Receive(SocketHandle s, char* buffer, int length) {
    return ::recv(Sock(s), buffer, length, 0);
}

bool SendAll(SocketHandle s, const char* data, std::size_t length) {
    while (length > 0) {
        int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
        int n = ::send(Sock(s), data, chunk, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void ShutdownBoth(SocketHandle s) {
    ::shutdown(Sock(s), SD_BOTH);
}

void ShutdownSend(SocketHandle s) {
    ::shutdown(Sock(s), SD_SEND);
}

void SetNoDelay(SocketHandle s) {
    BOOL on = TRUE;
    ::setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void SetKeepAlive(SocketHandle s) {
    BOOL on = TRUE;
    ::setsockopt(Sock(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // Windows probes ten times: six seconds apart, a dead peer is noticed
    // after the same two minutes as elsewhere.
    tcp_keepalive timing{1, 60 * 1000, 6 * 1000};
    DWORD returned = 0;
    ::WSAIoctl(Sock(s), SIO_KEEPALIVE_VALS, &timing, sizeof timing, nullptr, 0, &returned, nullptr,
               nullptr);
}

void Close(SocketHandle s) {
    ::closesocket(Sock(s));
}

void SetReceiveTimeout(SocketHandle s, int milliseconds) {
    DWORD ms = static_cast<DWORD>(milliseconds);
    ::setsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

bool SetNonBlocking(SocketHandle s) {
    u_long nonBlocking = 1;
    return ::ioctlsocket(Sock(s), FIONBIO, &nonBlocking) == 0;
}

ConnectStart StartConnect(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        return ConnectStart::kConnected;
    }
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? ConnectStart::kInProgress
                                                 : ConnectStart::kFailed;
}

bool ConnectSucceeded(SocketHandle s) {
    int error = 0;
    int len = sizeof error;
    return ::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) ==
               0 &&
           error == 0;
}

int ReceiveNow(SocketHandle s, char* buffer, int length) {
    const int n = ::recv(Sock(s), buffer, length, 0);
    return n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : n;
}

int SendNow(SocketHandle s, const char* data, int length) {
    const int n = ::send(Sock(s), data, length, 0);
    if (n == SOCKET_ERROR) {
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
    }
    return n;
}

int WaitForSockets(std::span<SocketWait> sockets, int timeoutMs) {
    if (sockets.empty() || sockets.size() > kMaxWaitSockets) {
        return -1;  // select fails on no socket at all
    }
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (const SocketWait& wait : sockets) {
        if (wait.write) {
            FD_SET(Sock(wait.socket), &writable);
            // Winsock reports a failed connect in the exception set.
            FD_SET(Sock(wait.socket), &failed);
        } else {
            FD_SET(Sock(wait.socket), &readable);
        }
    }
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(0, &readable, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR) {
        return -1;
    }
    for (SocketWait& wait : sockets) {
        const SOCKET socket = Sock(wait.socket);
        wait.ready = wait.write ? FD_ISSET(socket, &writable) || FD_ISSET(socket, &failed)
                                : FD_ISSET(socket, &readable);
    }
    return ready;
}

bool OpenSocketPair(Socket& a, Socket& b) {
    // Winsock has no socketpair: a loopback connection to a listener that
    // takes only it.
    Socket listener(OpenTcp());
    Socket client(OpenTcp());
    if (!listener.Valid() || !client.Valid() || !BindIPv4(listener.Get(), kLoopbackAddress, 0) ||
        !Listen(listener.Get(), 1) ||
        !Connect(client.Get(), kLoopbackAddress, LocalPort(listener.Get()))) {
        return false;
    }
    Socket server(Accept(listener.Get()));
    // Another program could have connected first: only our own end will do.
    if (!server.Valid() || PeerEndpoint(server.Get()) != LocalEndpoint(client.Get()) ||
        !SetNonBlocking(server.Get()) || !SetNonBlocking(client.Get())) {
        return false;
    }
    SetNoDelay(client.Get());
    SetNoDelay(server.Get());
    a = std::move(client);
    b = std::move(server);
    return true;
}

void InterruptAccept(std::atomic<SocketHandle>& slot) {
    // Winsock wakes a blocked accept only when its socket is closed.
    CloseOnce(slot);
}

}  // namespace net
