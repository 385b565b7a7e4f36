#include "socket_shim.h"

#include <winsock2.h>

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

std::uint16_t LocalPort(SocketHandle s) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

std::optional<std::uint32_t> ResolveIPv4(const std::string& host) {
    unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        return ntohl(dotted);
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

void SetNoDelay(SocketHandle s) {
    BOOL on = TRUE;
    ::setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void Close(SocketHandle s) {
    ::closesocket(Sock(s));
}

void SetReceiveTimeout(SocketHandle s, int milliseconds) {
    DWORD ms = static_cast<DWORD>(milliseconds);
    ::setsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void InterruptAccept(std::atomic<SocketHandle>& slot) {
    // Winsock wakes a blocked accept only when its socket is closed.
    CloseOnce(slot);
}

}  // namespace net
