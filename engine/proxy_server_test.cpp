// The engine over real loopback sockets, with a stand-in upstream server.
// Portable: runs natively and, in the Windows build, under Wine.
#include "proxy_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// An upstream that cannot be reached gets the browser an answer that names
// it and says what happened; a tunnel gets the status line alone.
TEST(ProxyServer, AnUnreachableUpstreamIsAnsweredWithAPageOfItsOwn) {
    const std::string get = "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::uint16_t closed = FreePort();  // nothing listens there
    Engine refused(closed);
    const std::string page = Exchange(refused.Port(), get);
    EXPECT_EQ(page.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << page;
    EXPECT_NE(page.find("127.0.0.1:" + std::to_string(closed) + "</b>: the connection was refused"),
              std::string::npos)
        << page;
    EXPECT_EQ(ResponseBody(page).size(), page.size() - page.find("\r\n\r\n") - 4);
    EXPECT_EQ(Exchange(refused.Port(), "CONNECT x:443 HTTP/1.1\r\nHost: x:443\r\n\r\n"),
              "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

    // A name that cannot be resolved, written as markup: shown as text.
    Engine unknown(80, 1, "", "<b>no-such-host.invalid");
    const std::string named = Exchange(unknown.Port(), get);
    EXPECT_NE(named.find("&lt;b&gt;no-such-host.invalid:80</b>: its name could not be resolved"),
              std::string::npos)
        << named;
}

// The engine told to relay to its own listener answers at once instead of
// connecting to itself, which would open connection after connection.
TEST(ProxyServer, ItsOwnListenerAsUpstreamIsRefusedWithoutALoop) {
    Engine engine(1);
    ASSERT_TRUE(engine.Server().Start(engine.Port(), 1, "127.0.0.1", engine.Port(), "", ""));
    const std::string page = Exchange(engine.Port(), "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(page.find("it is Quillon itself"), std::string::npos) << page;
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

// Another program holds the port: Start says so, and nothing of ours runs.
// A Start while running keeps the port, so nobody can take it in between.
TEST(ProxyServer, APortHeldByAnotherProgramFailsTheStart) {
    net::Socket holder(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(holder.Get(), net::kLoopbackAddress, 0));
    ASSERT_TRUE(net::Listen(holder.Get(), 5));
    CProxyServer server;
    EXPECT_FALSE(server.Start(net::LocalPort(holder.Get()), 1, "127.0.0.1", 1, "", ""));
    EXPECT_EQ(server.IsRunning(), 0);

    RecordingUpstream first, second(HttpResponse("second"));
    CProxyServer ours;
    const std::uint16_t port = FreePort();
    ASSERT_TRUE(ours.Start(port, 1, "127.0.0.1", first.Port(), "", ""));
    ASSERT_TRUE(ours.Start(port, 1, "127.0.0.1", second.Port(), "", ""));
    net::Socket intruder(net::OpenTcp());
    EXPECT_FALSE(net::BindIPv4(intruder.Get(), net::kLoopbackAddress, port));
    EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), HttpResponse("second"));
    EXPECT_EQ(first.Accepted(), 0);
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

// An upstream that keeps every byte of one connection until the engine
// closes it (bounded by the receive time-out).
class DrainingUpstream {
public:
    DrainingUpstream()
        : m_server([this](net::Socket& c) {
              std::string all = ReceiveToClose(c);
              std::lock_guard<std::mutex> lock(m_mutex);
              m_received.push_back(std::move(all));
          }) {}
    std::uint16_t Port() const { return m_server.Port(); }
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_received;
    LoopbackServer m_server;
};

// The engine reads no further than the Host line: whatever else a head
// holds is the upstream proxy's to judge, and the answer goes back as it is.
TEST(ProxyServer, MalformedAndOversizedHeadsGoUpstreamAndTheAnswerComesBack) {
    std::string manyLines = "GET http://x/ HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 20000; ++i) {
        manyLines += "X-" + std::to_string(i) + ": v\r\n";
    }
    manyLines += "\r\n";
    const std::string oneLongLine =
        "GET http://x/ HTTP/1.1\r\nHost: x\r\nCookie: " + std::string(1 << 20, 'c') + "\r\n\r\n";
    for (const std::string& head : {manyLines, oneLongLine}) {
        RecordingUpstream upstream;
        Engine engine(upstream.Port());
        EXPECT_EQ(Exchange(engine.Port(), head), HttpResponse("hello")) << head.size();
        EXPECT_TRUE(upstream.Received() == head) << head.size();  // not a byte lost or added
    }

    RecordingUpstream upstream;
    Engine engine(upstream.Port());
    for (const std::string head :
         {"\r\n\r\n", "NONSENSE\r\n\r\n", "GET\r\n\r\n", "GET / HTTP/1.1\r\n:\r\n\r\n",
          "GET / HTTP/1.1\r\nno colon at all\r\nHost:\r\nHost: :\r\n\r\n",
          "GET / HTTP/1.1\r\nHost: x:99999999999999999999\r\nHost: x:-1\r\n\r\n",
          "GET / HTTP/1.1\n\nHost: x\r\n\r\n", "GET / HTTP/1.1\r\rHost: x\r\n\r\n"}) {
        EXPECT_EQ(Exchange(engine.Port(), head), HttpResponse("hello")) << head;
    }

    // A head cut off by the browser's close: what came is passed on and the
    // upstream connection is closed too.
    DrainingUpstream draining;
    Engine engine2(draining.Port());
    {
        net::Socket browser = ConnectLoopback(engine2.Port());
        SendText(browser, "GET http://x/ HTTP/1.1\r\nHost: x\r\nAcc");
    }
    ASSERT_TRUE(WaitFor([&] { return draining.Received().size() == 1; }, 12000));
    EXPECT_EQ(draining.Received()[0], "GET http://x/ HTTP/1.1\r\nHost: x\r\nAcc");
}

TEST(ProxyServer, BinaryGarbageIsPassedOnByteForByteAndTheEngineServesOn) {
    // No CR LF: nothing to parse, every byte (zero bytes too) goes upstream.
    std::string garbage;
    std::uint32_t x = 12345;
    while (garbage.size() < 100000) {
        x = x * 1103515245u + 12345u;
        char c = static_cast<char>(x >> 24);
        garbage += c == '\r' ? '\0' : c;
    }
    DrainingUpstream draining;
    Engine engine(draining.Port());
    {
        net::Socket browser = ConnectLoopback(engine.Port());
        ASSERT_TRUE(SendText(browser, garbage));
    }
    ASSERT_TRUE(WaitFor([&] { return draining.Received().size() == 1; }, 12000));
    EXPECT_TRUE(draining.Received()[0] == garbage);

    // Garbage with line ends in it, then a real request on another
    // connection: served as if nothing had happened.
    RecordingUpstream upstream;
    Engine engine2(upstream.Port());
    std::string lines = garbage.substr(0, 5000);
    for (std::size_t i = 7; i < lines.size(); i += 97) {
        lines.replace(i, 2, "\r\n");
    }
    {
        net::Socket browser = ConnectLoopback(engine2.Port());
        SendText(browser, lines + "\r\n\r\n");
    }
    EXPECT_EQ(Exchange(engine2.Port(), "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n"),
              HttpResponse("hello"));
}

// A connection is one thread: a browser that dawdles holds its own thread
// and nothing else. The engine sets no time-out of its own on the first read.
TEST(ProxyServer, SlowAndSilentBrowsersDoNotHoldUpOtherConnections) {
    RecordingUpstream upstream;
    Engine engine(upstream.Port());

    net::Socket silent = ConnectLoopback(engine.Port());
    ASSERT_TRUE(silent.Valid());
    const std::string slowHead = "GET http://slow.test/ HTTP/1.1\r\nHost: slow.test\r\n\r\n";
    std::string slowReply;
    std::thread slow([&] {
        net::Socket browser = ConnectLoopback(engine.Port());
        for (char c : slowHead) {
            SendText(browser, std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        slowReply = ReceiveResponse(browser);
    });
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Exchange(engine.Port(), "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n"),
                  HttpResponse("hello"))
            << i;
    }
    slow.join();
    EXPECT_EQ(slowReply, HttpResponse("hello"));
    EXPECT_NE(upstream.Received().find(slowHead), std::string::npos);

    // The silent one is still open, unanswered, and has cost upstream nothing.
    EXPECT_EQ(upstream.Accepted(), 6);
    net::SetReceiveTimeout(silent.Get(), 200);
    char c;
    EXPECT_LT(net::Receive(silent.Get(), &c, 1), 0);  // timed out: not closed, no data
}

}  // namespace
