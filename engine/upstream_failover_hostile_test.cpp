// A proxy whose SYNs vanish counts as one that stopped answering once the
// engine's bounded connect gives up. Runs in a network namespace of its own
// where the system allows it (root), for the blackhole.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "fake_upstream_failover.h"
#include "hostile_peer.h"
#include "loopback.h"
#include "proxy_server.h"

namespace {

using namespace testsupport;

TEST(FailoverFromHostileProxy, ABlackholedProxyIsReplacedAfterTheBoundedConnects) {
    Blackhole blackhole;
    if (!blackhole.Made()) {
        GTEST_SKIP() << blackhole.WhyNot();
    }
    HostilePeer peer;
    const std::uint16_t good = peer.Serve(Behaviour::kOk);
    auto hook = std::make_shared<FakeUpstreamFailover>("127.0.0.1:" + std::to_string(good));
    CProxyServer server;
    server.SetFailover(hook);
    ASSERT_TRUE(server.Start(0, 1, "127.0.0.1", blackhole.Port(), "", ""));
    const auto port = static_cast<std::uint16_t>(server.ListeningPort());

    // Side by side, so that the burst costs one connect bound, not three.
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < kFailoverFailures; ++i) {
        replies.push_back(std::async(std::launch::async, [port] {
            net::Socket browser = ConnectLoopback(port);
            net::SetReceiveTimeout(browser.Get(), kUpstreamConnectTimeoutMs + kReceiveTimeoutMs);
            SendText(browser, "GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n");
            return ReceiveToClose(browser);
        }));
    }
    int timedOut = 0;
    int answered = 0;
    for (auto& reply : replies) {
        const std::string text = reply.get();
        timedOut += text.rfind("HTTP/1.1 504 Gateway Timeout\r\n", 0) == 0 ? 1 : 0;
        answered += ResponseBody(text) == "ok" ? 1 : 0;
    }
    EXPECT_EQ(timedOut, kFailoverFailures - 1);
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(hook->Asked(),
              std::vector<std::string>{"127.0.0.1:" + std::to_string(blackhole.Port())});
}

}  // namespace
