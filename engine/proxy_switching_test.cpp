// Switching anonymous browsing on and off with the real engine on a free
// port, a stand-in upstream proxy, and the browser options and main window
// recorded.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake_connection_options.h"
#include "fake_registry_store.h"
#include "loopback.h"
#include "proxy_switching.h"

namespace {

using namespace testsupport;

class RecordingHost final : public IProxySwitchingHost {
public:
    IResponsiveWait& Waits() override { return wait; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        log.push_back("message " + text + " / " + caption);
    }
    void RefreshSettingsCopies() override {
        log.push_back("copies");
        if (refresh) {
            refresh();
        }
    }
    void RefreshControls() override { log.push_back("controls"); }
    void RestartCleaningWorker() override { log.push_back("cleaning"); }
    void ShowTrayIconIfHidden() override { log.push_back("tray"); }
    void HideMainWindow() override { log.push_back("hide"); }

    std::vector<std::string> log;
    std::function<void()> refresh;
    InlineWait wait;
};

class ProxySwitchingTest : public testing::Test {
protected:
    ProxySwitchingTest() {
        m_host.refresh = [this] {
            m_switching.SetCachedUseProxy(static_cast<int>(m_settings.UseProxy.Get()));
        };
    }
    ~ProxySwitchingTest() override { m_engine.Stop(); }

    std::string Endpoint(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }
    std::string Local() { return Endpoint(m_localPort); }
    bool Running() {
        return WaitFor([this] { return m_engine.IsRunning() == 1; });
    }
    // The page the stand-in upstream answers, fetched through the engine.
    std::string FetchThroughEngine() {
        net::Socket browser = ConnectLoopback(m_localPort);
        SendText(browser, "GET http://o.test/ HTTP/1.1\r\nHost: o.test\r\n\r\n");
        return ReceiveResponse(browser);
    }

    LoopbackServer m_upstream{[](net::Socket& c) {
        if (!ReceiveRequest(c).empty()) {
            SendText(c, HttpResponse("upstream page"));
        }
    }};
    std::uint16_t m_localPort = FreePort();
    FakeRegistryStore m_store;
    SettingsCatalogue m_settings{m_store};
    FakeConnectionOptions m_browser;
    RecordingHost m_host;
    CProxyServer m_engine;
    ProxySwitching m_switching{m_engine, m_browser, m_settings, m_host, m_localPort};
};

TEST_F(ProxySwitchingTest, StartupWithAStoredProxySwitchesOnWhateverUseProxySays) {
    m_settings.ProxyName.Set(Endpoint(m_upstream.Port()));
    EXPECT_TRUE(m_switching.ApplyStartupProxy());
    ASSERT_EQ(m_browser.Calls().size(), 1u);
    EXPECT_EQ(m_browser.Calls()[0].operation, "Set");
    EXPECT_EQ(m_browser.Calls()[0].connectionName, "DefaultConnectionSettings");
    EXPECT_EQ(m_browser.Calls()[0].proxyServer, Local());
    ASSERT_TRUE(Running());
    EXPECT_NE(FetchThroughEngine().find("upstream page"), std::string::npos);
    EXPECT_EQ(m_switching.CachedUseProxy(), 0);
    EXPECT_TRUE(m_switching.IsOn());  // checked, so the first command turns it off
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"copies", "controls"}));
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
}

TEST_F(ProxySwitchingTest, StartupWithoutAProxyLeavesEverything) {
    EXPECT_TRUE(m_switching.ApplyStartupProxy());
    EXPECT_TRUE(m_browser.Calls().empty());
    EXPECT_EQ(m_engine.IsRunning(), 0);
    EXPECT_EQ(m_switching.ToggleFlag(), 0);
}

// A failed attempt leaves the command off, so each use tries again instead
// of first "turning off" what never ran.
TEST_F(ProxySwitchingTest, ToggleWithoutAProxyComplainsEachTimeAndStaysOff) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        m_host.log.clear();
        m_switching.OnToggleProxy();
        EXPECT_EQ(m_host.log,
                  (std::vector<std::string>{"message No proxy selected / ", "controls"}));
        EXPECT_EQ(m_switching.ToggleFlag(), 0);
        EXPECT_FALSE(m_switching.IsOn());
    }
    EXPECT_TRUE(m_browser.Calls().empty());
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
}

TEST_F(ProxySwitchingTest, ToggleOnAnUnreachableProxyTellsWhyAndChangesNothing) {
    m_settings.ProxyName.Set(Endpoint(FreePort()));
    m_switching.OnToggleProxy();
    EXPECT_EQ(m_host.log, (std::vector<std::string>{
                              "message Unable to connect to proxy server / Error",
                              "message Please choose another Proxy! / ERROR", "controls"}));
    EXPECT_TRUE(m_browser.Calls().empty());
    EXPECT_EQ(m_engine.IsRunning(), 0);
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
    EXPECT_FALSE(m_switching.IsOn());
}

TEST_F(ProxySwitchingTest, ToggleOnAReachableProxyRelaysThroughItAndStoresTheChoice) {
    const std::string proxy = Endpoint(m_upstream.Port());
    m_settings.ProxyName.Set(proxy);
    m_switching.OnToggleProxy();
    ASSERT_EQ(m_browser.Calls().size(), 1u);
    EXPECT_EQ(m_browser.Calls()[0].proxyServer, Local());
    ASSERT_TRUE(Running());
    EXPECT_NE(FetchThroughEngine().find("upstream page"), std::string::npos);
    EXPECT_EQ(m_settings.UseProxy.Get(), 1u);
    EXPECT_EQ(m_settings.ProxyName.Get(), proxy);
    EXPECT_EQ(m_switching.CachedUseProxy(), 1);
    EXPECT_TRUE(m_switching.IsOn());
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"controls"}));

    m_switching.OnToggleProxy();  // and off again
    EXPECT_FALSE(m_switching.IsOn());
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
    EXPECT_EQ(m_engine.IsRunning(), 0);
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
    EXPECT_EQ(m_settings.ProxyName.Get(), proxy);  // kept for the next time
}

TEST_F(ProxySwitchingTest, SavedSelectionRestartsOnTheNewProxyOrSwitchesOff) {
    LoopbackServer other([](net::Socket& c) {
        if (!ReceiveRequest(c).empty()) {
            SendText(c, HttpResponse("other page"));
        }
    });
    m_settings.ProxyName.Set(Endpoint(m_upstream.Port()));
    m_switching.ApplyStartupProxy();
    ASSERT_TRUE(Running());
    m_host.log.clear();

    m_switching.SetCachedUseProxy(1);  // the page's box is checked
    m_switching.ApplyProxySelection(Endpoint(other.Port()));
    ASSERT_TRUE(Running());
    EXPECT_NE(FetchThroughEngine().find("other page"), std::string::npos);
    EXPECT_EQ(m_settings.ProxyName.Get(), Endpoint(other.Port()));
    EXPECT_EQ(m_settings.UseProxy.Get(), 1u);
    EXPECT_EQ(m_switching.ToggleFlag(), 1);
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"controls", "cleaning", "tray", "hide"}));

    m_host.log.clear();
    m_switching.ApplyProxySelection("");  // checked, nothing chosen
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"message No proxy selected / ", "controls",
                                                    "cleaning", "tray", "hide"}));
    EXPECT_EQ(m_engine.IsRunning(), 1);
    EXPECT_TRUE(m_switching.IsOn());  // still relaying through the earlier choice

    m_switching.SetCachedUseProxy(0);  // the box is cleared
    m_switching.ApplyProxySelection(Endpoint(other.Port()));
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
    EXPECT_EQ(m_engine.IsRunning(), 0);
    EXPECT_EQ(m_settings.UseProxy.Get(), 0u);
    // Off, so the tray command's next use switches on again.
    EXPECT_FALSE(m_switching.IsOn());
}

TEST(ParseProxyEndpoint, SplitsAtTheFirstColonWithAtoiPorts) {
    auto check = [](const std::string& text, const std::string& host, int port) {
        ProxyEndpoint e = ParseProxyEndpoint(text);
        EXPECT_EQ(e.host, host) << text;
        EXPECT_EQ(e.port, port) << text;
    };
    check("10.0.0.1:3128", "10.0.0.1", 3128);
    check("proxy.example:80x", "proxy.example", 80);
    check("h: +81", "h", 81);
    check("h:", "h", 0);
    check("a:1:2", "a", 1);
    check("192.168.0.1", "", 192);  // no colon: atoi of the whole text
    check("", "", 0);
    // Ports out of range wrap as a 32-bit atoi would, never overflowing.
    check("h:abc", "h", 0);
    check("h:-1", "h", -1);
    check("h:4294967296", "h", 0);
    check("h:99999999999999999999", "h", 1661992959);
    check(":80", "", 80);
}

// Texts that name no usable proxy: the user is told which, and nothing is
// switched or stored. A port is used by its low 16 bits, like everywhere else
// in the program, so huge and negative ports reach a real port.
TEST_F(ProxySwitchingTest, EndpointTextsWithoutAHostOrAUsablePortAreRefusedWithAMessage) {
    const std::string unresolved = "message Unable to solve proxy server name / Error";
    const std::string refused = "message Unable to connect to proxy server / Error";
    const std::string choose = "message Please choose another Proxy! / ERROR";
    // An empty host is no name to the POSIX resolver; Winsock takes it for
    // this machine, where nothing of ours listens on its network address.
    const std::string emptyHost = "either";
    const std::string closedPort = std::to_string(FreePort());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no-colon-here", emptyHost},
        {":" + std::to_string(m_upstream.Port()), emptyHost},
        {"no-such-host.invalid:80", unresolved},
        {"127.0.0.1:", refused},
        {"127.0.0.1:abc", refused},
        {"127.0.0.1:4294967296", refused},                  // wraps to port 0
        {"127.0.0.1:18446744073709551616", refused},        // as does 2^64
        {"127.0.0.1:1" + std::string(5000, '0'), refused},  // 10^5000 wraps to 0
        {"127.0.0.1:-" + std::to_string(65536 - std::stoi(closedPort)), refused},
    };
    for (const auto& [text, why] : cases) {
        m_host.log.clear();
        m_settings.ProxyName.Set(text);
        m_switching.OnToggleProxy();
        ASSERT_EQ(m_host.log.size(), 3u) << text;
        if (why == emptyHost) {
            EXPECT_TRUE(m_host.log[0] == unresolved || m_host.log[0] == refused) << text;
        } else {
            EXPECT_EQ(m_host.log[0], why) << text;
        }
        EXPECT_EQ(m_host.log[1], choose) << text;
        EXPECT_EQ(m_engine.IsRunning(), 0) << text;
        EXPECT_EQ(m_settings.UseProxy.Get(), 0u) << text;
        ASSERT_EQ(m_switching.ToggleFlag(), 0) << text;  // the next use tries again
    }
    EXPECT_TRUE(m_browser.Calls().empty());

    // 2^32 + the port reaches the port itself.
    m_settings.ProxyName.Set("127.0.0.1:" + std::to_string(4294967296LL + m_upstream.Port()));
    m_switching.OnToggleProxy();
    ASSERT_TRUE(Running());
    EXPECT_NE(FetchThroughEngine().find("upstream page"), std::string::npos);
}

// At start-up a stored text is used without a check: a text without a host
// gives an engine that answers every browser connection with the reason.
TEST_F(ProxySwitchingTest, AStoredTextWithoutAHostStartsAnEngineThatExplainsItsFailure) {
    m_settings.ProxyName.Set("garbage");
    EXPECT_TRUE(m_switching.ApplyStartupProxy());
    ASSERT_TRUE(Running());
    const std::string reply = FetchThroughEngine();
    EXPECT_EQ(reply.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << reply;
    EXPECT_EQ(m_engine.IsRunning(), 1);
}

// Another program on the port: the browser is never pointed there. At start
// the user is told which port; switching on says "Cannot Start Proxy!".
TEST_F(ProxySwitchingTest, APortHeldByAnotherProgramLeavesTheBrowserAloneAndSaysSo) {
    net::Socket squatter(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(squatter.Get(), net::kLoopbackAddress, m_localPort));
    ASSERT_TRUE(net::Listen(squatter.Get(), 5));
    m_settings.ProxyName.Set(Endpoint(m_upstream.Port()));

    EXPECT_TRUE(m_switching.ApplyStartupProxy());
    ASSERT_EQ(m_host.log.size(), 3u);
    EXPECT_NE(m_host.log[1].find("Port " + std::to_string(m_localPort) + " on 127.0.0.1 is in use"),
              std::string::npos)
        << m_host.log[1];
    EXPECT_FALSE(m_switching.IsOn());

    m_host.log.clear();
    m_switching.OnToggleProxy();
    EXPECT_EQ(m_host.log,
              (std::vector<std::string>{"message Cannot Start Proxy! / ERROR", "controls"}));
    EXPECT_FALSE(m_switching.IsOn());
    for (const auto& call : m_browser.Calls()) {
        EXPECT_EQ(call.operation, "Disable");  // never pointed at the squatter
    }
}

// The program as its own upstream would open connection after connection
// to itself: refused when switching on, at start too, without a connect.
TEST_F(ProxySwitchingTest, ItsOwnEndpointIsRefusedAsUpstream) {
    for (const std::string& own : {Local(), "0.0.0.0:" + std::to_string(m_localPort)}) {
        m_settings.ProxyName.Set(own);
        m_host.log.clear();
        m_switching.OnToggleProxy();
        EXPECT_EQ(m_host.log, (std::vector<std::string>{
                                  "message Please choose another Proxy! / ERROR", "controls"}))
            << own;
        m_host.log.clear();
        m_switching.ApplyStartupProxy();
        EXPECT_EQ(m_host.log,
                  (std::vector<std::string>{
                      "copies", "message Please choose another Proxy! / ERROR", "controls"}))
            << own;
        EXPECT_FALSE(m_switching.IsOn());
        EXPECT_EQ(m_engine.IsRunning(), 0);
    }
    EXPECT_TRUE(m_browser.Calls().empty());
}

// A session that ends gives the browser its configuration back and stops
// the engine, but keeps the choice: the next start switches on again.
TEST_F(ProxySwitchingTest, TheEndOfASessionRestoresTheBrowserAndKeepsTheSettings) {
    const std::string proxy = Endpoint(m_upstream.Port());
    m_settings.ProxyName.Set(proxy);
    m_switching.OnToggleProxy();
    ASSERT_TRUE(Running());
    m_switching.EndSession();
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
    EXPECT_EQ(m_engine.IsRunning(), 0);
    EXPECT_EQ(m_settings.UseProxy.Get(), 1u);
    EXPECT_EQ(m_settings.ProxyName.Get(), proxy);
}

}  // namespace
