// The engine over real loopback sockets, with a stand-in upstream server.
// Portable: runs natively and, in the Windows build, under Wine.
#include "proxy_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "loopback.h"
#include "upstream_settings.h"

namespace {

using namespace testsupport;

// Records the request head (and announced body) of every connection and
// answers it with a fixed response, then closes.
class RecordingUpstream {
public:
    explicit RecordingUpstream(std::string response = HttpResponse("hello"))
        : m_response(std::move(response)), m_server([this](net::Socket& c) { Serve(c); }) {}

    std::uint16_t Port() const { return m_server.Port(); }
    int Accepted() const { return m_server.Accepted(); }
    std::string Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void Serve(net::Socket& c) {
        std::string request = ReceiveRequest(c);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received += request;
        }
        SendText(c, m_response);
    }

    std::string m_response;
    std::mutex m_mutex;
    std::string m_received;
    LoopbackServer m_server;
};

// Starts the engine on a free port towards 127.0.0.1:upstreamPort and waits
// until it listens.
class Engine {
public:
    explicit Engine(std::uint16_t upstreamPort, int useProxy = 1, const std::string& user = "",
                    const std::string& host = "127.0.0.1") {
        EXPECT_TRUE(m_server.Start(0, useProxy, host, upstreamPort, user, "secret"));
        EXPECT_TRUE(WaitFor([this] { return m_server.IsRunning() == 1; }));
    }
    CProxyServer& Server() { return m_server; }
    std::uint16_t Port() const { return static_cast<std::uint16_t>(m_server.ListeningPort()); }

private:
    CProxyServer m_server;
};

std::string Exchange(std::uint16_t port, const std::string& request) {
    net::Socket browser = ConnectLoopback(port);
    EXPECT_TRUE(browser.Valid());
    SendText(browser, request);
    return ReceiveToClose(browser);
}

TEST(ProxyServer, RelaysThroughTheUpstreamProxyWithTheRebuiltHead) {
    RecordingUpstream upstream;
    Engine engine(upstream.Port(), 1, "user", "localhost");  // a name, looked up per connection
    std::string reply =
        Exchange(engine.Port(), "GET http://example.com/ HTTP/1.1\r\nHost:example.com\r\n\r\n");
    EXPECT_EQ(reply, HttpResponse("hello"));
    EXPECT_EQ(upstream.Received(),
              "GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n"
              "Proxy-Authorization: Basic " +
                  EncodeBase64("user:secret") + "\r\n\r\n");
}

TEST(ProxyServer, BytesPastTheHeadInTheFirstReadAreNotLost) {
    RecordingUpstream upstream;
    Engine engine(upstream.Port());
    // A body sent in the same segment as the head.
    std::string post =
        "POST http://x/ HTTP/1.1\r\nHost: x\r\nContent-Length: 11\r\n\r\nhello world";
    EXPECT_EQ(Exchange(engine.Port(), post), HttpResponse("hello"));
    EXPECT_EQ(upstream.Received(), post);

    // A head longer than the first read: the cut-off line and the rest of the
    // head follow, and the head still ends only once.
    RecordingUpstream upstream2;
    Engine engine2(upstream2.Port());
    std::string longHead =
        "GET http://x/ HTTP/1.1\r\nHost: x\r\nCookie: " + std::string(3000, 'c') +
        "\r\nX-After: 1\r\n\r\n";
    EXPECT_EQ(Exchange(engine2.Port(), longHead), HttpResponse("hello"));
    EXPECT_EQ(upstream2.Received(), longHead);
}

TEST(ProxyServer, WithoutProxyConnectsToTheHostOfTheRequest) {
    RecordingUpstream origin;
    Engine engine(0, 0);
    std::string get = "GET http://127.0.0.1:" + std::to_string(origin.Port()) +
                      "/p HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(origin.Port()) +
                      "\r\n\r\n";
    EXPECT_EQ(Exchange(engine.Port(), get), HttpResponse("hello"));
    EXPECT_EQ(origin.Received(), get);  // the absolute target arrives as written

    // No Host line: given up, closed without an answer.
    EXPECT_EQ(Exchange(engine.Port(), "GET / HTTP/1.1\r\nhost: 127.0.0.1\r\n\r\n"), "");
    EXPECT_EQ(origin.Accepted(), 1);
}

TEST(ProxyServer, UnreachableUpstreamClosesWithoutAnswer) {
    Engine engine(FreePort());  // nothing listens there
    EXPECT_EQ(Exchange(engine.Port(), "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n"), "");
    Engine unknown(80, 1, "", "no-such-host.invalid");
    EXPECT_EQ(Exchange(unknown.Port(), "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n"), "");
}

TEST(ProxyServer, KeptAliveConnectionCarriesEveryRequestToTheSameUpstream) {
    std::atomic<int> served{0};
    LoopbackServer upstream([&](net::Socket& c) {
        for (int i = 0; i < 3; ++i) {
            std::string request = ReceiveRequest(c);
            if (request.empty()) {
                return;
            }
            ++served;
            SendText(c, HttpResponse(request.substr(0, request.find(' ', 4))));
        }
    });
    Engine engine(upstream.Port());
    net::Socket browser = ConnectLoopback(engine.Port());
    for (const char* path : {"GET /1", "GET /22", "GET /333"}) {
        SendText(browser, std::string(path) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(ReceiveResponse(browser), HttpResponse(path));
    }
    EXPECT_EQ(upstream.Accepted(), 1);
    EXPECT_EQ(served.load(), 3);
}

TEST(ProxyServer, BinaryBodyArrivesByteForByte) {
    std::string body;
    for (int i = 0; i < 200000; ++i) {
        body += static_cast<char>((i * 7) % 256);
    }
    RecordingUpstream upstream(HttpResponse(body));
    Engine engine(upstream.Port());
    EXPECT_EQ(Exchange(engine.Port(), "GET http://x/img HTTP/1.0\r\nHost: x\r\n\r\n"),
              HttpResponse(body));
}

TEST(ProxyServer, EitherSideClosingTearsTheWholeConnectionDown) {
    // The browser leaves in the middle of a large download: the upstream
    // side sees its connection closed.
    std::atomic<bool> upstreamSawClose{false};
    LoopbackServer upstream([&](net::Socket& c) {
        ReceiveRequest(c);
        std::string chunk(65536, 'd');
        for (int i = 0; i < 2000; ++i) {  // 128 MiB at most, bounded
            if (!SendText(c, chunk)) {
                upstreamSawClose = true;
                return;
            }
        }
    });
    Engine engine(upstream.Port());
    {
        net::Socket browser = ConnectLoopback(engine.Port());
        SendText(browser, "GET /big HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(ReceiveCount(browser, 100000).size() >= 100000, true);
    }
    EXPECT_TRUE(WaitFor([&] { return upstreamSawClose.load(); }, 10000));

    // The upstream closes right after its response: the browser gets all of
    // it, then sees the close.
    RecordingUpstream closing;
    Engine engine2(closing.Port());
    net::Socket browser = ConnectLoopback(engine2.Port());
    SendText(browser, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ReceiveResponse(browser), HttpResponse("hello"));
    EXPECT_TRUE(PeerClosed(browser));
}

TEST(ProxyServer, StopLeavesOpenConnectionsRelaying) {
    LoopbackServer upstream([](net::Socket& c) {
        for (std::string r; !(r = ReceiveRequest(c)).empty();) {
            SendText(c, HttpResponse("again"));
        }
    });
    Engine engine(upstream.Port());
    std::uint16_t port = engine.Port();
    net::Socket browser = ConnectLoopback(port);
    SendText(browser, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ReceiveResponse(browser), HttpResponse("again"));

    engine.Server().Stop();
    EXPECT_EQ(engine.Server().IsRunning(), 0);
    EXPECT_FALSE(ConnectLoopback(port).Valid());  // no longer listening

    SendText(browser, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ReceiveResponse(browser), HttpResponse("again"));
}

TEST(ProxyServer, RestartRightAwayLeavesExactlyOneListener) {
    RecordingUpstream upstream;
    std::uint16_t port = FreePort();
    CProxyServer server;
    for (int i = 0; i < 50; ++i) {
        if (server.IsRunning()) {
            server.Stop();
        }
        ASSERT_TRUE(server.Start(port, 1, "127.0.0.1", upstream.Port(), "", ""));
        if (i % 10 == 9) {
            ASSERT_TRUE(WaitFor([&] { return server.IsRunning() == 1; })) << i;
            EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), HttpResponse("hello"));
        }
    }
    ASSERT_TRUE(WaitFor([&] { return server.IsRunning() == 1; }));
    EXPECT_EQ(server.ListeningPort(), port);
    server.Stop();
    EXPECT_FALSE(ConnectLoopback(port).Valid());  // the old listeners are all gone
}

TEST(ProxyServer, PortAlreadyTakenStartsButNeverRuns) {
    net::Socket holder(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(holder.Get(), net::kLoopbackAddress, 0));
    ASSERT_TRUE(net::Listen(holder.Get(), 5));
    CProxyServer server;
    EXPECT_TRUE(server.Start(net::LocalPort(holder.Get()), 1, "127.0.0.1", 1, "", ""));
    EXPECT_FALSE(WaitFor([&] { return server.IsRunning() == 1; }, 300));
    server.Stop();
    EXPECT_EQ(server.IsRunning(), 0);
}

TEST(ProxyServer, ListensOnLoopbackOnly) {
    RecordingUpstream upstream;
    Engine engine(upstream.Port());
    // Any 127/8 address reaches a listener bound to every interface; one bound
    // to 127.0.0.1 answers that address alone.
    net::Socket other(net::OpenTcp());
    EXPECT_FALSE(net::Connect(other.Get(), 0x7F000002, engine.Port()));
    EXPECT_TRUE(ConnectLoopback(engine.Port()).Valid());
}

}  // namespace
