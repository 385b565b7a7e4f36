// The engine between a client and real peers: tinyproxy as the upstream
// proxy and nginx as the origin server, all on loopback.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "peers.h"
#include "proxy_server.h"
#include "worker_pool.h"

namespace {

using namespace testsupport;

const std::string kIndex = "<html><body>hello from the origin</body></html>\n";

// Threads of the process other than the engine's parked workers, which stay
// for the next connection by design. A relay that never ends still counts.
int UnparkedThreads() {
    return Threads() - static_cast<int>(engine::SharedWorkerPool().IdleThreads());
}

// Waits until the engine runs nothing but the listener: the connections of
// an earlier test may still be closing, and would be counted as a baseline
// that later drops.
bool OnlyTheListenerRuns() {
    return WaitForEngineJobs(1);
}

// The process's descriptors and threads when made; Back() waits (bounded)
// until they are all that is left again.
class Baseline {
public:
    ::testing::AssertionResult Back(int timeoutMs = 10000) const {
        if (WaitFor(
                [this] {
                    return OpenDescriptors() == m_descriptors && UnparkedThreads() == m_threads;
                },
                timeoutMs)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << OpenDescriptors() << " descriptors (was " << m_descriptors << "), "
               << UnparkedThreads() << " threads (was " << m_threads << ")";
    }

private:
    int m_descriptors = OpenDescriptors();
    int m_threads = UnparkedThreads();
};

class RelayIntegration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_origin = new Nginx;
        s_upstream = new Tinyproxy;
        ASSERT_TRUE(s_origin->Ready()) << "nginx did not start";
        ASSERT_TRUE(s_upstream->Ready()) << "tinyproxy did not start";
        s_origin->WriteFile("index.html", kIndex);
        s_binary = RandomBytes(1 << 20);
        s_origin->WriteFile("binary.bin", s_binary);
        s_origin->WriteFile("large.bin", std::string(64 << 20, 'L'));
    }
    static void TearDownTestSuite() {
        delete s_upstream;
        delete s_origin;
    }

    void SetUp() override {
        ASSERT_TRUE(m_engine.Start(0, 1, "127.0.0.1", s_upstream->Port(), "", ""));
        ASSERT_TRUE(WaitFor([this] { return m_engine.IsRunning() == 1; }));
    }

    static std::string RandomBytes(std::size_t n) {
        std::mt19937 random(42);
        std::string bytes(n, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() % 4 == 0 ? 0 : random());  // plenty of zero bytes
        }
        return bytes;
    }

    static std::string Url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(s_origin->Port()) + path;
    }
    static std::string Get(const std::string& path, const std::string& version = "HTTP/1.1",
                           const std::string& extra = "") {
        return "GET " + Url(path) + " " + version +
               "\r\nHost: 127.0.0.1:" + std::to_string(s_origin->Port()) + "\r\n" + extra + "\r\n";
    }
    static std::string Body(const std::string& response) {
        std::size_t end = response.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : response.substr(end + 4);
    }

    net::Socket Browser() {
        return ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    }

    CProxyServer m_engine;
    static Nginx* s_origin;
    static Tinyproxy* s_upstream;
    static std::string s_binary;
};

Nginx* RelayIntegration::s_origin = nullptr;
Tinyproxy* RelayIntegration::s_upstream = nullptr;
std::string RelayIntegration::s_binary;

TEST_F(RelayIntegration, GetsPagesAndBinaryBodiesByteForByte) {
    net::Socket browser = Browser();
    SendText(browser, Get("/index.html"));
    std::string page = ReceiveResponse(browser);
    EXPECT_EQ(page.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(Body(page), kIndex);

    net::Socket second = Browser();
    SendText(second, Get("/binary.bin"));
    EXPECT_TRUE(Body(ReceiveResponse(second)) == s_binary);  // not EXPECT_EQ: 1 MiB diff
}

TEST_F(RelayIntegration, KeptAliveConnectionCarriesSeveralRequests) {
    // tinyproxy closes after every response; nginx keeps the connection and
    // answers absolute-URI requests, so here it stands in as the upstream.
    CProxyServer engine;
    ASSERT_TRUE(engine.Start(0, 1, "127.0.0.1", s_origin->Port(), "", ""));
    ASSERT_TRUE(WaitFor([&] { return engine.IsRunning() == 1; }));
    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(engine.ListeningPort()));
    for (int i = 0; i < 5; ++i) {
        SendText(browser, Get(i % 2 ? "/binary.bin" : "/index.html"));
        std::string response = ReceiveResponse(browser);
        ASSERT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK") << "request " << i;
        EXPECT_EQ(Body(response).size(), i % 2 ? s_binary.size() : kIndex.size());
    }
}

TEST_F(RelayIntegration, PostBodySentWithTheHeadReachesTheOrigin) {
    std::string received;
    LoopbackServer echo([&](net::Socket& c) {
        received = ReceiveRequest(c);
        std::size_t end = received.find("\r\n\r\n");
        SendText(c, HttpResponse(end == std::string::npos ? "" : received.substr(end + 4),
                                 "Connection: close\r\n"));
    });
    std::string body = "name=value&other=" + std::string(300, 'x');
    std::string post = "POST http://127.0.0.1:" + std::to_string(echo.Port()) +
                       "/form HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(echo.Port()) +
                       "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_LT(post.size(), 1024u);  // head and body in the first read
    net::Socket browser = Browser();
    SendText(browser, post);
    EXPECT_EQ(Body(ReceiveResponse(browser)), body);
}

TEST_F(RelayIntegration, HeadLongerThanTheFirstReadArrivesWhole) {
    net::Socket browser = Browser();
    SendText(browser, Get("/index.html", "HTTP/1.1",
                          "Cookie: session=" + std::string(3000, 'c') + "\r\nAccept: */*\r\n"));
    std::string response = ReceiveResponse(browser);
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(Body(response).size(), kIndex.size());
}

TEST_F(RelayIntegration, ClosesOnEitherSideLeaveNothingBehind) {
    ASSERT_TRUE(OnlyTheListenerRuns());
    const Baseline before;
    {
        // The browser leaves in the middle of a 64 MiB download.
        net::Socket browser = Browser();
        SendText(browser, Get("/large.bin"));
        EXPECT_GE(ReceiveCount(browser, 1 << 20).size(), 1u << 20);
    }
    {
        // The upstream closes right after an HTTP/1.0 response.
        net::Socket browser = Browser();
        SendText(browser, Get("/index.html", "HTTP/1.0"));
        std::string response = ReceiveToClose(browser);
        EXPECT_EQ(Body(response).size(), kIndex.size());
    }
    {
        // The browser half-closes after its request: the whole answer comes,
        // then the close. (tinyproxy itself stops relaying a longer body once
        // its client's stream has ended; the stand-in below takes that part.)
        net::Socket browser = Browser();
        SendText(browser, Get("/index.html", "HTTP/1.0"));
        net::ShutdownSend(browser.Get());
        EXPECT_EQ(Body(ReceiveToClose(browser)), kIndex);
    }
    EXPECT_TRUE(before.Back());
}

// A stand-in upstream that sees each end of the browser's side (its stream
// ended, its close in the middle of a download), and whose reset the browser
// side sees.
TEST_F(RelayIntegration, EachSideSeesTheOthersEnd) {
    ASSERT_TRUE(OnlyTheListenerRuns());
    const Baseline before;
    {
        const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npart";
        const std::string chunk(65536, 'd');
        constexpr std::size_t kBeforeLeaving = 16;
        std::atomic<bool> go{false};  // the browser has done its part
        std::atomic<bool> sendFailed{false};
        LoopbackServer upstream([&](net::Socket& c) {
            const std::string request = ReceiveRequest(c);
            if (request.find("/download") != std::string::npos) {
                for (std::size_t i = 0; i < 2000; ++i) {  // 128 MiB at most
                    if (i == kBeforeLeaving) {
                        WaitFor([&] { return go.load(); }, kReceiveTimeoutMs);
                    }
                    if (!SendText(c, chunk)) {
                        sendFailed = true;
                        return;
                    }
                }
            } else if (request.find("/reset") != std::string::npos) {
                SendText(c, partial);
                WaitFor([&] { return go.load(); }, kReceiveTimeoutMs);
                const linger abort{1, 0};  // the close sends a reset
                ::setsockopt(static_cast<int>(c.Get()), SOL_SOCKET, SO_LINGER, &abort,
                             sizeof abort);
            } else if (PeerClosed(c)) {
                SendText(c, HttpResponse(s_binary));
            }
        });
        CProxyServer engine;
        ASSERT_TRUE(engine.Start(0, 1, "127.0.0.1", upstream.Port(), "", ""));
        ASSERT_TRUE(WaitFor([&] { return engine.IsRunning() == 1; }));
        const auto port = static_cast<std::uint16_t>(engine.ListeningPort());
        auto get = [](const std::string& path) {
            return "GET http://o.test" + path + " HTTP/1.1\r\nHost: o.test\r\n\r\n";
        };

        // The upstream answers once the browser's half-close has reached it.
        net::Socket browser = ConnectLoopback(port);
        SendText(browser, get("/"));
        net::ShutdownSend(browser.Get());
        EXPECT_TRUE(ReceiveToClose(browser) == HttpResponse(s_binary));

        // The browser leaves with nothing unread, so its close is a plain end
        // of stream: the next send to it fails, and the upstream's soon after.
        browser = ConnectLoopback(port);
        SendText(browser, get("/download"));
        EXPECT_EQ(ReceiveCount(browser, kBeforeLeaving * chunk.size()).size(),
                  kBeforeLeaving * chunk.size());
        browser.Reset();
        go = true;
        EXPECT_TRUE(WaitFor([&] { return sendFailed.load(); }, kReceiveTimeoutMs));

        // The browser stays: the reset alone ends its side of the connection.
        go = false;
        browser = ConnectLoopback(port);
        SendText(browser, get("/reset"));
        EXPECT_EQ(ReceiveCount(browser, partial.size()), partial);
        go = true;
        EXPECT_TRUE(WaitForEngineJobs(2));  // the two listeners
        EXPECT_TRUE(PeerClosed(browser));
    }
    EXPECT_TRUE(before.Back());
}

TEST_F(RelayIntegration, ThousandConnectionsLeaveNoDescriptorOrThread) {
    ASSERT_TRUE(OnlyTheListenerRuns());
    const Baseline before;
    constexpr int kBatches = 20, kPerBatch = 50;
    int completed = 0;
    for (int b = 0; b < kBatches; ++b) {
        std::vector<net::Socket> batch;
        for (int i = 0; i < kPerBatch; ++i) {
            batch.push_back(Browser());
            SendText(batch.back(), Get("/index.html", i % 2 ? "HTTP/1.0" : "HTTP/1.1"));
        }
        for (int i = 0; i < kPerBatch; ++i) {
            if (i % 3 == 0) {
                batch[i].Reset();  // some leave without reading the answer
                continue;
            }
            completed += Body(ReceiveResponse(batch[i])).size() == kIndex.size();
        }
    }
    EXPECT_EQ(completed, kBatches * (kPerBatch - 17));
    EXPECT_TRUE(before.Back(20000));
}

}  // namespace
