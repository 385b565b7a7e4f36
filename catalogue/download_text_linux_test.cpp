#include <stdlib.h>

#include <gtest/gtest.h>

#include "catalogue_test_support.h"
#include "download_text.h"

namespace {

// The desktop's proxy resolver (libproxy behind GIO) takes http_proxy from
// the environment: the route the browser would take.
class BrowserProxyScope {
public:
    explicit BrowserProxyScope(const std::string& proxy) {
        ::setenv("http_proxy", proxy.c_str(), 1);
    }
    ~BrowserProxyScope() { ::unsetenv("http_proxy"); }
};

TEST(DownloadTextLinuxTest, GoesThroughTheProxyTheBrowserWouldUse) {
    const std::string tinyproxy = PeerFile("tinyproxy.port");
    if (tinyproxy.empty()) {
        GTEST_SKIP() << "tinyproxy runs under ctest (fixture catalogue_peers)";
    }
    VendorServer server;
    server.AnswerBody("/list", "a:1\n");
    {
        BrowserProxyScope browser("http://127.0.0.1:" + std::to_string(std::stoi(tinyproxy)));
        EXPECT_EQ(DownloadText(server.BaseUrl() + "/list"), "a:1\r\n");
    }
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].find("\r\nVia: "), std::string::npos) << server.Requests()[0];

    // A proxy that does not answer fails the download: no way around it.
    {
        BrowserProxyScope browser("http://127.0.0.1:" + std::to_string(testsupport::FreePort()));
        EXPECT_EQ(DownloadText(server.BaseUrl() + "/list"), "");
    }
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
