// A real browser follows the settings: headless Chromium on a GNOME desktop
// (keyfile backend) and on a KDE one asks the loopback proxy for its page
// after SetConnectionOptions, and the page's server itself after
// DisableConnectionProxy.
//
// Every launch runs inside a network namespace of its own that has only
// loopback, so nothing can leave the machine whatever the browser does. The
// test's servers must live in that namespace too: the outer test starts this
// binary again there and runs the inner test, which does the work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "browser_test_support_linux.h"
#include "connection_options_linux.h"
#include "loopback.h"
#include "process_registry_store.h"

namespace {

constexpr const char* kInsideVariable = "QUILLON_BROWSER_TEST_IN_NETNS";

std::string SelfPath() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

TEST(ChromiumProxy, FollowsTheSettingsInAPrivateNetwork) {
    if (!browsertest::HaveProgram("chromium") || !browsertest::HaveProgram("unshare") ||
        !browsertest::HaveProgram("ip")) {
        GTEST_SKIP() << "chromium, unshare or ip missing";
    }
    if (browsertest::RunCommand("unshare -n true 2>/dev/null").exitCode != 0) {
        GTEST_SKIP() << "no private network namespace allowed here";
    }
    auto result = browsertest::RunCommand(
        std::string("unshare -n sh -c 'ip link set lo up && exec env ") + kInsideVariable + "=1 " +
        SelfPath() + " --gtest_filter=ChromiumProxyInside.* --gtest_brief=1' 2>&1");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("SKIPPED"), std::string::npos) << result.output;
}

// A page server answering every request with its name and the request line.
class RecordingServer {
public:
    explicit RecordingServer(std::string name)
        : m_name(std::move(name)), m_server([this](net::Socket& connection) {
              std::string request = testsupport::ReceiveRequest(connection);
              std::string line = request.substr(0, request.find("\r\n"));
              {
                  std::lock_guard lock(m_mutex);
                  m_lines += line + "\n";
              }
              testsupport::SendText(
                  connection,
                  testsupport::HttpResponse("<p>" + m_name + " " + line + "</p>",
                                            "Content-Type: text/html\r\nConnection: close\r\n"));
          }) {}
    std::uint16_t Port() const { return m_server.Port(); }
    std::string Lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::string m_name;
    std::mutex m_mutex;
    std::string m_lines;
    testsupport::LoopbackServer m_server;
};

// The desktop Chromium is to see, given by its environment.
struct Desktop {
    std::string environment;  // assignments put before the command
    std::string profile;
};

std::string DumpDom(const Desktop& desktop, const std::string& url) {
    return browsertest::RunCommand("env " + desktop.environment +
                                   " timeout 60 chromium --headless --no-sandbox --disable-gpu"
                                   " --disable-background-networking --disable-component-update"
                                   " --disable-sync --no-first-run --disable-quic"
                                   " --host-resolver-rules='MAP origin.test 127.0.0.1'"
                                   " --user-data-dir=" +
                                   desktop.profile + " --dump-dom " + url + " 2>/dev/null")
        .output;
}

std::size_t Occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

void ExpectProxyThenDirect(IConnectionOptions& options, const Desktop& desktop) {
    RecordingServer proxy("proxy");
    RecordingServer origin("origin");
    // The page is named by a host Chromium maps to loopback: it never hands
    // loopback addresses to a proxy.
    const std::string page = "http://origin.test:" + std::to_string(origin.Port()) + "/";

    const std::string proxyServer = "127.0.0.1:" + std::to_string(proxy.Port());
    ASSERT_TRUE(options.SetConnectionOptions(kDefaultConnectionName, proxyServer.c_str()));
    EXPECT_NE(DumpDom(desktop, page).find("proxy GET " + page + " HTTP/1.1"), std::string::npos);
    EXPECT_EQ(origin.Lines(), "");
    // Chromium sends its own background requests to the proxy as well; the
    // test's proxy answers them itself, so none of them goes anywhere.
    const std::size_t viaProxy = Occurrences(proxy.Lines(), "origin.test");
    EXPECT_GE(viaProxy, 1u);

    ASSERT_TRUE(options.DisableConnectionProxy(kDefaultConnectionName));
    EXPECT_NE(DumpDom(desktop, page).find("origin GET / HTTP/1.1"), std::string::npos);
    EXPECT_EQ(Occurrences(proxy.Lines(), "origin.test"), viaProxy);
}

class ChromiumProxyInside : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv(kInsideVariable) == nullptr) {
            GTEST_SKIP() << "runs inside the private network of ChromiumProxy only";
        }
    }
};

TEST_F(ChromiumProxyInside, Gnome) {
    // The program's own options, on the binary's GNOME desktop.
    auto options = MakeSystemConnectionOptions();
    ExpectProxyThenDirect(*options, {"", browsertest::ConfigHome() + "/chromium"});
}

TEST_F(ChromiumProxyInside, Kde) {
    // Chromium on KDE reads ~/.config/kioslaverc itself.
    testsupport::TempDir home;
    const std::string config = home.Path() + "/.config";
    DesktopConnectionOptions options(ProcessRegistryStore(), {config, "KDE", ""});
    ExpectProxyThenDirect(options, {"HOME=" + home.Path() + " XDG_CONFIG_HOME=" + config +
                                        " XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5",
                                    home.Path() + "/chromium"});
}

}  // namespace
