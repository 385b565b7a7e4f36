// The engine in front of upstream proxies as public lists have them: dead,
// blackholed, silent, closing, garbage, cut off, never-ending. Whatever the
// upstream does, the browser gets an answer or the end of its connection
// within bounds, and the engine lets go of the connection afterwards. Runs
// in a network namespace of its own where the system allows it (root), for
// the blackhole.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "hostile_peer.h"
#include "loopback.h"
#include "peers.h"
#include "proxy_server.h"
#include "upstream_failure.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;

constexpr const char* kGet = "GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n";

// The engine on a free port, relaying to 127.0.0.1:upstream.
class Engine {
public:
    explicit Engine(std::uint16_t upstream) {
        EXPECT_TRUE(m_server.Start(0, 1, "127.0.0.1", upstream, "", ""));
    }
    std::uint16_t Port() const { return static_cast<std::uint16_t>(m_server.ListeningPort()); }

private:
    CProxyServer m_server;
};

// The browser waits up to receiveTimeoutMs for each read.
std::string Ask(std::uint16_t enginePort, const std::string& request,
                int receiveTimeoutMs = kReceiveTimeoutMs) {
    net::Socket browser = ConnectLoopback(enginePort);
    net::SetReceiveTimeout(browser.Get(), receiveTimeoutMs);
    SendText(browser, request);
    return ReceiveToClose(browser);
}

TEST(HostileUpstream, ABlackholedProxyIsAnsweredWithATimeOutPageWithinTheBound) {
    Blackhole blackhole;
    if (!blackhole.Made()) {
        GTEST_SKIP() << blackhole.WhyNot();
    }
    Engine engine(blackhole.Port());
    // The browser outwaits the engine's own bound by a receive time-out: with
    // the same ten seconds on both sides, a busy machine would decide which
    // gives up first.
    constexpr int kBrowserWaitMs = kUpstreamConnectTimeoutMs + kReceiveTimeoutMs;
    const auto started = Clock::now();
    auto tunnel = std::async(std::launch::async, [&] {
        return Ask(engine.Port(), "CONNECT example.com:443 HTTP/1.1\r\n\r\n", kBrowserWaitMs);
    });
    const std::string page = Ask(engine.Port(), kGet, kBrowserWaitMs);
    const auto waited = Clock::now() - started;
    EXPECT_EQ(page.rfind("HTTP/1.1 504 Gateway Timeout\r\n", 0), 0u) << page;
    EXPECT_NE(page.find("did not answer within 10 seconds"), std::string::npos) << page;
    // Not the system's two minutes; bounded above by the browser's wait.
    EXPECT_GE(waited, std::chrono::milliseconds(kUpstreamConnectTimeoutMs - 500));
    EXPECT_EQ(tunnel.get(),
              "HTTP/1.1 504 Gateway Timeout\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

// Upstreams that accept and then misbehave: what they send (or nothing)
// reaches the browser as it is, the connection ends when they end it, and
// nothing of the engine stays behind.
TEST(HostileUpstream, MisbehavingProxiesEndTheirConnectionsAndLeaveNothingBehind) {
    HostileOptions fast;
    fast.headLineIntervalMs = 10;
    HostilePeer peer(fast);
    {
        Engine closes(peer.Serve(Behaviour::kCloses));
        EXPECT_EQ(Ask(closes.Port(), kGet), "");

        Engine garbage(peer.Serve(Behaviour::kGarbage));
        EXPECT_EQ(Ask(garbage.Port(), kGet).size(), kGarbageLength);

        Engine reset(peer.Serve(Behaviour::kResetMidBody));
        const std::string cut = Ask(reset.Port(), kGet);
        EXPECT_EQ(cut.rfind("HTTP/1.1 200", 0), 0u);
        EXPECT_LT(cut.size(), kResetAnnounced);

        // The browser gives up on a head that never ends: the engine's side
        // of the connection goes too.
        Engine endless(peer.Serve(Behaviour::kEndlessHead));
        {
            net::Socket browser = ConnectLoopback(endless.Port());
            SendText(browser, kGet);
            EXPECT_GE(ReceiveCount(browser, 200).size(), 200u);
        }
        Engine silent(peer.Serve(Behaviour::kSilent));
        {
            net::Socket browser = ConnectLoopback(silent.Port());
            SendText(browser, kGet);
        }
    }
    EXPECT_TRUE(WaitForEngineJobs(0));
}

}  // namespace
