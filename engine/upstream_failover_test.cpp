// Moving away from a proxy that stopped answering, over real loopback
// sockets: a refusing port and a server that answers. Portable: runs
// natively and, in the Windows build, under Wine.
#include "upstream_failover.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "fake_upstream_failover.h"
#include "loopback.h"
#include "proxy_server.h"

namespace {

using namespace testsupport;

constexpr const char* kGet = "GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n";

std::string Endpoint(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

// A loopback port that refuses every connect: bound, never listening, so
// that nothing else takes it meanwhile.
class RefusingPort {
public:
    RefusingPort() : m_socket(net::OpenTcp()) {
        EXPECT_TRUE(net::BindIPv4(m_socket.Get(), net::kLoopbackAddress, 0));
    }
    std::uint16_t Port() const { return net::LocalPort(m_socket.Get()); }

private:
    net::SocketLibrary m_library;
    net::Socket m_socket;
};

class FailoverTest : public testing::Test {
protected:
    // The engine towards the refusing port, with the hook (none: null).
    void StartEngine(std::shared_ptr<IUpstreamFailover> hook) {
        m_server.SetFailover(std::move(hook));
        ASSERT_TRUE(m_server.Start(0, 1, "127.0.0.1", m_dead.Port(), "user", "secret"));
    }
    std::string Ask() {
        net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(m_server.ListeningPort()));
        SendText(browser, kGet);
        return ReceiveToClose(browser);
    }
    static bool IsBadGateway(const std::string& reply) {
        return reply.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0) == 0;
    }

    RefusingPort m_dead;
    LoopbackServer m_good{[](net::Socket& c) {
        ReceiveRequest(c);
        SendText(c, HttpResponse("through the new one"));
    }};
    CProxyServer m_server;
};

TEST_F(FailoverTest, TheBurstsLastFailingRequestIsAnsweredThroughTheReplacement) {
    auto hook = std::make_shared<FakeUpstreamFailover>(Endpoint(m_good.Port()));
    StartEngine(hook);
    for (int i = 1; i < kFailoverFailures; ++i) {
        EXPECT_TRUE(IsBadGateway(Ask()));
    }
    EXPECT_EQ(Ask(), HttpResponse("through the new one"));  // the user sees no error
    EXPECT_EQ(Ask(), HttpResponse("through the new one"));  // new connections go there at once
    EXPECT_EQ(hook->Asked(), std::vector<std::string>{Endpoint(m_dead.Port())});
    EXPECT_EQ(m_good.Accepted(), 2);
}

// Connections that fail side by side: one switch, and every request counted
// after it goes to the new proxy.
TEST_F(FailoverTest, ConcurrentFailuresSwitchOnce) {
    auto hook = std::make_shared<FakeUpstreamFailover>(Endpoint(m_good.Port()));
    StartEngine(hook);
    constexpr int kRequests = 8;
    std::vector<std::future<std::string>> replies;
    for (int i = 0; i < kRequests; ++i) {
        replies.push_back(std::async(std::launch::async, [this] { return Ask(); }));
    }
    int answered = 0;
    for (auto& reply : replies) {
        const std::string text = reply.get();
        answered += text == HttpResponse("through the new one") ? 1 : 0;
    }
    EXPECT_EQ(hook->Asked().size(), 1u);
    EXPECT_EQ(answered, kRequests - (kFailoverFailures - 1));
}

TEST_F(FailoverTest, WithoutAReplacementEveryFailureGetsTheErrorPage) {
    auto silentHook = std::make_shared<FakeUpstreamFailover>(std::nullopt);
    StartEngine(silentHook);
    for (int i = 0; i < kFailoverFailures + 1; ++i) {
        EXPECT_TRUE(IsBadGateway(Ask()));
    }
    EXPECT_EQ(silentHook->Asked().size(), 1u);  // the next burst asks again
    m_server.Stop();
    StartEngine(nullptr);
    for (int i = 0; i < kFailoverFailures; ++i) {
        EXPECT_TRUE(IsBadGateway(Ask()));
    }
    EXPECT_EQ(m_good.Accepted(), 0);
}

// The counting alone: a success starts it anew, the old proxy's late
// failures count against nothing, and only a proxy that does not answer
// counts at all.
TEST(UpstreamRoute, CountsFailuresOfTheCurrentProxyOnly) {
    auto hook = std::make_shared<FakeUpstreamFailover>("127.0.0.9:3128");
    auto route = std::make_shared<UpstreamRoute>(hook);
    const auto contextOf = [&](int useProxy) {
        return std::make_shared<const ConnectionContext>(
            ConnectionContext{MakeUpstreamSettings(useProxy, "127.0.0.8", 8000, "user", "secret"),
                              nullptr,
                              {},
                              route});
    };
    route->Set(contextOf(1));
    const auto old = route->Current();
    for (int i = 1; i < kFailoverFailures; ++i) {
        EXPECT_EQ(route->ConnectFailed(old, UpstreamFailure::kTimedOut), nullptr);
    }
    route->Connected(old);
    EXPECT_EQ(route->ConnectFailed(old, UpstreamFailure::kUnresolved), nullptr);
    EXPECT_EQ(route->ConnectFailed(old, UpstreamFailure::kSelf), nullptr);
    for (int i = 1; i < kFailoverFailures; ++i) {
        EXPECT_EQ(route->ConnectFailed(old, UpstreamFailure::kRefused), nullptr);
    }
    EXPECT_TRUE(hook->Asked().empty());

    const auto next = route->ConnectFailed(old, UpstreamFailure::kRefused);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(hook->Asked(), std::vector<std::string>{"127.0.0.8:8000"});
    EXPECT_EQ(route->Current(), next);
    EXPECT_EQ(next->upstream.proxyHost, "127.0.0.9");
    EXPECT_EQ(next->upstream.proxyPort, 3128);
    EXPECT_EQ(next->upstream.authenticationFlag, 0);  // no credentials for a stranger
    for (int i = 0; i < kFailoverFailures; ++i) {
        EXPECT_EQ(route->ConnectFailed(old, UpstreamFailure::kRefused), next);
    }
    for (int i = 1; i < kFailoverFailures; ++i) {
        EXPECT_EQ(route->ConnectFailed(next, UpstreamFailure::kRefused), nullptr);
    }
    EXPECT_EQ(hook->Asked().size(), 1u);

    // A direct connection (no proxy) never switches.
    route->Set(contextOf(0));
    for (int i = 0; i < kFailoverFailures; ++i) {
        EXPECT_EQ(route->ConnectFailed(route->Current(), UpstreamFailure::kRefused), nullptr);
    }
    EXPECT_EQ(hook->Asked().size(), 1u);
}

}  // namespace
