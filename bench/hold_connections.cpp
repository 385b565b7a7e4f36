// Opens COUNT keep-alive connections through a proxy, one GET each, and holds
// them all open while it reads the resident memory of the proxy process
// before and after. What one held connection costs the proxy follows. With
// "stall" each connection reads only the head of its answer and then stops
// reading, so that the proxy holds it in the middle of the body (a big page
// on a slow browser). Once they are closed the memory is read once more.
//
//   hold_connections PROXY_PORT TARGET_HOST:PORT PATH PROXY_PID COUNT [stall]
//
// Prints one line: held=N failed=N dropped=N rss_before_kib=N
// rss_after_kib=N kib_per_conn=X rss_released_kib=N. "failed" connections
// got no usable answer; "dropped" ones were closed by the proxy while held.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

namespace {

// Each step of a connection may wait this long; the whole opening phase is
// capped too, so that a proxy that stops answering cannot stall the run.
constexpr int kStepTimeoutMs = 5000;
constexpr auto kOpeningBudget = std::chrono::seconds(90);
// Lets the proxy's per-connection workers reach their idle state.
constexpr auto kSettle = std::chrono::milliseconds(1500);
constexpr long kMaxCount = 5000;

int Usage() {
    std::fprintf(stderr,
                 "usage: hold_connections PROXY_PORT TARGET_HOST:PORT PATH PROXY_PID COUNT "
                 "[stall]\n");
    return 2;
}

std::optional<long> RssKiB(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::stringstream text;
    text << in.rdbuf();
    return bench::ParseVmRssKiB(text.str());
}

void SetTimeouts(int fd) {
    timeval tv{kStepTimeoutMs / 1000, (kStepTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);  // bounds connect too
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One connection with one completed request on it (or, stalling, the head
// of its answer); -1 when that failed.
int OpenOne(int proxyPort, const std::string& request, bool stall) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    SetTimeouts(fd);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(proxyPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
        !SendAll(fd, request)) {
        ::close(fd);
        return -1;
    }
    std::string received;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        received.append(buffer, static_cast<std::size_t>(n));
        if (stall && received.find("\r\n\r\n") != std::string::npos) {
            return received.starts_with("HTTP/1.1 200") ? fd : (::close(fd), -1);
        }
        switch (bench::CheckResponse(received)) {
            case bench::ResponseState::kIncomplete:
                continue;
            case bench::ResponseState::kComplete:
                return fd;
            case bench::ResponseState::kUnusable:
                ::close(fd);
                return -1;
        }
    }
}

// A held connection the proxy has closed (or, unless stalled, sent anything
// on) is readable.
bool StillOpen(int fd, bool stall) {
    pollfd p{fd, static_cast<short>(stall ? POLLRDHUP : POLLIN | POLLRDHUP), 0};
    return ::poll(&p, 1, 0) == 0 || (stall && (p.revents & POLLRDHUP) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 && !(argc == 7 && std::string(argv[6]) == "stall")) {
        return Usage();
    }
    const bool stall = argc == 7;
    auto proxyPort = bench::ParsePort(argv[1]);
    auto target = bench::ParseHostPort(argv[2]);
    std::string path = argv[3];
    auto pid = bench::ParseNumber(argv[4], 1, 1L << 30);
    auto count = bench::ParseNumber(argv[5], 1, kMaxCount);
    if (!proxyPort || *proxyPort == 0 || !target || path.empty() || path[0] != '/' || !pid ||
        !count) {
        return Usage();
    }
    int proxyPid = static_cast<int>(*pid);
    auto before = RssKiB(proxyPid);
    if (!before) {
        std::fprintf(stderr, "hold_connections: no VmRSS for pid %d\n", proxyPid);
        return 1;
    }

    std::string authority = target->host + ":" + std::to_string(target->port);
    std::string request =
        "GET http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";

    std::vector<int> held;
    int failed = 0;
    auto deadline = std::chrono::steady_clock::now() + kOpeningBudget;
    for (long i = 0; i < *count; ++i) {
        int fd =
            std::chrono::steady_clock::now() < deadline ? OpenOne(*proxyPort, request, stall) : -1;
        if (fd < 0) {
            ++failed;
        } else {
            held.push_back(fd);
        }
    }
    std::this_thread::sleep_for(kSettle);
    auto after = RssKiB(proxyPid);

    int dropped = 0;
    for (int fd : held) {
        dropped += StillOpen(fd, stall) ? 0 : 1;
        ::close(fd);
    }
    std::this_thread::sleep_for(kSettle);
    auto released = RssKiB(proxyPid);
    if (!after || !released) {
        std::fprintf(stderr, "hold_connections: pid %d went away\n", proxyPid);
        return 1;
    }
    double perConnection =
        held.empty() ? 0.0
                     : static_cast<double>(*after - *before) / static_cast<double>(held.size());
    std::printf(
        "held=%zu failed=%d dropped=%d rss_before_kib=%ld rss_after_kib=%ld kib_per_conn=%.1f "
        "rss_released_kib=%ld\n",
        held.size(), failed, dropped, *before, *after, perConnection, *released);
    return 0;
}
