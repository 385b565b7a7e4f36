// A whole connection through the relay as the engine wires it: both
// directions on their relay workers with the connection's filter, a socket
// pair on each side. The browser sends its requests, the upstream answers and
// closes. The upstream must get the requests byte for byte, and the browser
// what the filter gives for the same bytes fed to it directly.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>

#include "fake_filter_switches.h"
#include "fuzz_support.h"
#include "html_response_filter.h"
#include "relay.h"

namespace {

struct Collect final : IResponseSink {
    void Send(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

bool Write(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;  // libFuzzer's own timer signals
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads `count` bytes, or up to the close when count is npos.
std::string Read(int fd, std::size_t count = std::string::npos) {
    std::string data;
    char buffer[16384];
    while (data.size() < count) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;  // libFuzzer's own timer signals
        }
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto flags = input.ConsumeIntegral<std::uint8_t>();
    const std::string requests = input.ConsumeRandomLengthString();
    const std::string responses = input.ConsumeRemainingBytesAsString();
    FakeFilterSwitches switches(flags & 1, (flags >> 1) & 1, (flags >> 2) & 1);
    auto counter = std::make_shared<PopupCounter>();

    // What the filter makes of the bytes when handed them directly.
    HtmlResponseFilter direct(switches.Live(), counter);
    direct.OnRequestBytes(requests);
    Collect expected;
    direct.OnResponseBytes(responses, expected);
    if (!direct.EndsConnection()) {
        direct.OnResponseEnd(expected);
    }

    int browser[2];
    int upstream[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, browser) == 0);
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, upstream) == 0);
    net::Socket browserSide(browser[0]);
    net::Socket upstreamSide(upstream[0]);
    auto sockets = std::make_shared<ConnectionSockets>();
    sockets->browser = net::Socket(browser[1]);
    sockets->upstream = net::Socket(upstream[1]);
    FUZZ_CHECK(
        StartRelays(sockets, std::make_shared<HtmlResponseFilter>(switches.Live(), counter)));
    sockets.reset();

    // The requests reach the upstream as sent (and the filter has followed
    // them) before any answer comes.
    FUZZ_CHECK(Write(browserSide.Get(), requests));
    FUZZ_CHECK(Read(upstreamSide.Get(), requests.size()) == requests);
    Write(upstreamSide.Get(), responses);  // the relay may end the connection early
    ::shutdown(upstreamSide.Get(), SHUT_WR);
    FUZZ_CHECK(Read(browserSide.Get()) == expected.text);
    return 0;
}
