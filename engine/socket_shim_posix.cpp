#include "socket_shim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace net {
namespace {

int Fd(SocketHandle s) {
    return static_cast<int>(s);
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
    return true;
}
void Cleanup() {}

SocketHandle OpenTcp() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

bool BindIPv4(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    // Windows lets a listener re-bind over TIME_WAIT by default; POSIX needs
    // SO_REUSEADDR for that. It still refuses a port another socket listens on.
    int on = 1;
    ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = MakeAddress(address, port);
    return ::bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle s, int backlog) {
    return ::listen(Fd(s), backlog) == 0;
}

SocketHandle Accept(SocketHandle s) {
    int fd;
    do {
        fd = ::accept4(Fd(s), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

bool Connect(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    return ::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

ConnectOutcome ConnectWithin(SocketHandle s, std::uint32_t address, std::uint16_t port,
                             int timeoutMs, std::stop_token stop) {
    const int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0 || ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) != 0) {
        return ConnectOutcome::kFailed;
    }
    sockaddr_in sa = MakeAddress(address, port);
    ConnectOutcome outcome = ConnectOutcome::kConnected;
    if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        outcome = errno != EINPROGRESS && errno != EINTR
                      ? ConnectOutcome::kFailed
                      : AwaitConnect(timeoutMs, stop, [s](std::chrono::milliseconds slice) {
                            pollfd p{Fd(s), POLLOUT, 0};
                            const int ready = ::poll(&p, 1, static_cast<int>(slice.count()));
                            if (ready <= 0) {
                                return ConnectOutcome::kTimedOut;  // none yet, or EINTR
                            }
                            int error = 0;
                            socklen_t len = sizeof error;
                            const bool ok =
                                ::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) == 0 &&
                                error == 0;
                            return ok ? ConnectOutcome::kConnected : ConnectOutcome::kFailed;
                        });
    }
    ::fcntl(Fd(s), F_SETFL, flags);
    return outcome;
}

std::uint16_t LocalPort(SocketHandle s) {
    const std::optional<Endpoint> local = LocalEndpoint(s);
    return local ? local->port : 0;
}

namespace {
std::optional<Endpoint> EndpointOf(int (*query)(int, sockaddr*, socklen_t*), SocketHandle s) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (query(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET) {
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
    in_addr dotted{};
    if (::inet_aton(host.c_str(), &dotted) == 0) {
        return std::nullopt;
    }
    return ntohl(dotted.s_addr);
}

std::optional<std::uint32_t> ResolveIPv4(const std::string& host) {
    if (const std::optional<std::uint32_t> dotted = ParseIPv4(host)) {
        return dotted;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::uint32_t address =
        ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return address;
}

int Receive(SocketHandle s, char* buffer, int length) {
    ssize_t n;
    do {
        n = ::recv(Fd(s), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

bool SendAll(SocketHandle s, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::send(Fd(s), data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void ShutdownBoth(SocketHandle s) {
    ::shutdown(Fd(s), SHUT_RDWR);
}

void ShutdownSend(SocketHandle s) {
    ::shutdown(Fd(s), SHUT_WR);
}

void SetNoDelay(SocketHandle s) {
    int on = 1;
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void SetKeepAlive(SocketHandle s) {
    const int on = 1, idle = 60, interval = 10, count = 6;
    ::setsockopt(Fd(s), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void Close(SocketHandle s) {
    ::close(Fd(s));
}

void SetReceiveTimeout(SocketHandle s, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

bool SetNonBlocking(SocketHandle s) {
    const int flags = ::fcntl(Fd(s), F_GETFL);
    return flags >= 0 && ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

ConnectStart StartConnect(SocketHandle s, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        return ConnectStart::kConnected;
    }
    // EINTR: the connect goes on in the background, as with EINPROGRESS.
    return errno == EINPROGRESS || errno == EINTR ? ConnectStart::kInProgress
                                                  : ConnectStart::kFailed;
}

bool ConnectSucceeded(SocketHandle s) {
    int error = 0;
    socklen_t len = sizeof error;
    return ::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
}

int ReceiveNow(SocketHandle s, char* buffer, int length) {
    const int n = Receive(s, buffer, length);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : n;
}

int SendNow(SocketHandle s, const char* data, int length) {
    ssize_t n;
    do {
        n = ::send(Fd(s), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
    }
    return static_cast<int>(n);
}

int WaitForSockets(std::span<SocketWait> sockets, int timeoutMs) {
    if (sockets.empty() || sockets.size() > kMaxWaitSockets) {
        return -1;
    }
    pollfd polled[kMaxWaitSockets];
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        polled[i] = {Fd(sockets[i].socket), static_cast<short>(sockets[i].write ? POLLOUT : POLLIN),
                     0};
    }
    const int ready = ::poll(polled, sockets.size(), timeoutMs);
    if (ready < 0) {
        // A signal is no error: the caller looks again.
        return errno == EINTR ? 0 : -1;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        sockets[i].ready = polled[i].revents != 0;
    }
    return ready;
}

bool OpenSocketPair(Socket& a, Socket& b) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    a.Reset(static_cast<SocketHandle>(ends[0]));
    b.Reset(static_cast<SocketHandle>(ends[1]));
    return true;
}

void InterruptAccept(std::atomic<SocketHandle>& slot) {
    // Closing a descriptor does not wake a thread blocked in accept on Linux,
    // and a closed number may be reused at once; shutting the socket down
    // wakes it and leaves the closing to its owner.
    SocketHandle s = slot.load();
    if (s != kNoSocket) {
        ::shutdown(Fd(s), SHUT_RDWR);
    }
}

}  // namespace net
