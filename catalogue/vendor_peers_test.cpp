// Against real peers started by the test fixture: nginx serving the vendor's
// files and tinyproxy as the proxy under test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue_test_support.h"
#include "fake_message_box.h"
#include "proxy_generator_worker.h"
#include "proxy_list.h"
#include "proxy_probe.h"
#include "test_environment.h"
#include "vendor_url.h"

namespace {

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class VendorPeersTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tinyproxy = PeerFile("tinyproxy.port");
        const std::string nginx = PeerFile("nginx.port");
        if (tinyproxy.empty() || nginx.empty()) {
            GTEST_SKIP() << "the peers run under ctest (fixture catalogue_peers)";
        }
        m_tinyproxy = std::stoi(tinyproxy);
        SetEnvironment(kVendorUrlVariable, "http://127.0.0.1:" + std::to_string(std::stoi(nginx)));
    }
    // HTTP/1.0 GETs of the path in nginx's access log so far (a proxy may
    // pass the path on in its absolute form).
    static int Served(std::string_view path) {
        return Count(PeerFile("access.log"), std::string(path) + " HTTP/1.0\"");
    }

    int m_tinyproxy = 0;
};

TEST_F(VendorPeersTest, TheSampleListIsFetchedStoredAndEachFetchAsksTheGeneratorOnce) {
    std::vector<std::string> sample;
    std::istringstream lines(
        ReadFile(std::string(QUILLON_VENDOR_FILES) + "/licensing/ProxyGenerator/proxylist.txt"));
    std::string expectedBytes;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        sample.push_back(line);
        expectedBytes += line + "\r\r\n";
    }
    ASSERT_FALSE(sample.empty());

    TestFolder folder;
    FakeMessageBox messages;
    ProxyListFile file(folder.AppPath(), messages);
    ProxyGeneratorWorker worker;
    const int before = Served(kProxyGeneratorUrlPath);
    for (int fetch = 1; fetch <= 2; ++fetch) {
        RecordingList list;
        ASSERT_TRUE(FetchProxyListAndRequestGenerator(file, list, worker));
        EXPECT_EQ(list.items, sample);
        EXPECT_EQ(folder.Read(kProxyListFileName), expectedBytes);
        // Not stopped: a stop would cancel a request not yet answered.
        EXPECT_TRUE(
            testsupport::WaitFor([&] { return Served(kProxyGeneratorUrlPath) == before + fetch; }));
    }

    // A list that cannot be stored sends no request.
    ProxyListFile nowhere(folder.AppPath() + "missing/", messages);
    RecordingList list;
    ProxyGeneratorWorker idle;
    EXPECT_FALSE(FetchProxyListAndRequestGenerator(nowhere, list, idle));
    EXPECT_FALSE(idle.IsRunning());
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(Served(kProxyGeneratorUrlPath), before + 2);
}

TEST_F(VendorPeersTest, TinyproxyIsAvailableWithADownloadFigure) {
    const int images = Served(kTestImageUrlPath);
    EXPECT_GT(MeasureDownloadSpeed("127.0.0.1", m_tinyproxy,
                                   std::chrono::steady_clock::now() + kProbeLimit, {}),
              0.0);
    EXPECT_TRUE(testsupport::WaitFor([&] { return Served(kTestImageUrlPath) == images + 1; }));

    FakeMessageBox messages;
    bool stepRan = false;
    const std::string endpoint = "127.0.0.1:" + std::to_string(m_tinyproxy);
    TestProxy(endpoint, messages, [&] { stepRan = true; });
    EXPECT_TRUE(stepRan);
    ASSERT_EQ(messages.shown.size(), 2u);
    const std::string& text = messages.shown[1].text;
    const std::string head = "Proxy Server " + endpoint + " is Available\r\nResponse Time ";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    int responseTime = 0;
    double figure = 0.0;
    ASSERT_EQ(
        std::sscanf(text.c_str() + head.size(),
                    "%d milliseconds \r\nDownload Speed %lf KB/sec \r\n", &responseTime, &figure),
        2)
        << text;
    EXPECT_GE(responseTime, 1);
    EXPECT_GT(figure, 0.0);
    EXPECT_LE(figure, 61.72);
}

}  // namespace
