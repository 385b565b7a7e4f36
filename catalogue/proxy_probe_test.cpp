#include "proxy_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "catalogue_test_support.h"
#include "fake_message_box.h"
#include "vendor_url.h"

namespace {

class ScriptedProbe final : public IProxyProbe {
public:
    ScriptedProbe(int responseTime, double speed) : m_responseTime(responseTime), m_speed(speed) {}
    int MeasureResponseTime(const std::string& host, int port) override {
        calls.emplace_back("connect " + host + " " + std::to_string(port));
        return m_responseTime;
    }
    double MeasureDownloadSpeed(const std::string& host, int port) override {
        calls.emplace_back("download " + host + " " + std::to_string(port));
        return m_speed;
    }
    std::vector<std::string> calls;

private:
    int m_responseTime;
    double m_speed;
};

const ShownMessage kTesting{kTestingText, "", MessageIcon::None};

TEST(TestProxyTest, AnAvailableProxyIsReportedWithItsFiguresAfterTheExtraStep) {
    FakeMessageBox messages;
    ScriptedProbe probe(10, 0.6171875 / 10);
    std::vector<std::string> order;
    messages.onShow = [&] { order.push_back("message"); };
    TestProxy("10.0.0.1:8080 fast", messages, probe, [&] { order.push_back("step"); });

    EXPECT_EQ(probe.calls,
              (std::vector<std::string>{"connect 10.0.0.1 8080", "download 10.0.0.1 8080"}));
    EXPECT_EQ(order, (std::vector<std::string>{"message", "step", "message"}));
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0], kTesting);
    EXPECT_EQ(messages.shown[1],
              (ShownMessage{"Proxy Server 10.0.0.1:8080 fast is Available\r\nResponse Time 10 "
                            "milliseconds \r\nDownload Speed 6.17 KB/sec \r\n",
                            "", MessageIcon::None}));
}

TEST(TestProxyTest, AnUnavailableProxyIsNeitherDownloadedThroughNorGivenTheExtraStep) {
    FakeMessageBox messages;
    ScriptedProbe probe(0, 1.0);
    bool stepRan = false;
    TestProxy("8080", messages, probe, [&] { stepRan = true; });
    // No ":": an empty host and the port of the whole text.
    EXPECT_EQ(probe.calls, std::vector<std::string>{"connect  8080"});
    EXPECT_FALSE(stepRan);
    EXPECT_EQ(messages.shown, (std::vector<ShownMessage>{
                                  kTesting, {kNotAvailableText, "Error", MessageIcon::None}}));
}

TEST(TestProxyTest, AFailedDownloadStillReportsTheProxyAvailable) {
    FakeMessageBox messages;
    ScriptedProbe probe(3, 0.0);
    TestProxy("p:1", messages, probe);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_NE(messages.shown[1].text.find("Response Time 3 milliseconds \r\nDownload Speed 0.00 "),
              std::string::npos);
}

TEST(ProbeFiguresTest, TicksWrapAndAnInstantReadCountsAsOneMillisecond) {
    EXPECT_EQ(ElapsedTicks(0xFFFFFFF0u, 5u), 21u);
    EXPECT_EQ(ElapsedTicks(77u, 77u), 1u);
    EXPECT_DOUBLE_EQ(100 * DownloadSpeedFigure(5u, 5u), 61.71875);
    EXPECT_DOUBLE_EQ(DownloadSpeedFigure(0xFFFFFFFBu, 5u), 0.06171875);
}

TEST(ProbeFiguresTest, AHostTooLongForTheProxyTextIsRefused) {
    EXPECT_EQ(ProxyText("10.1.2.3", 8080), "10.1.2.3:8080");
    EXPECT_EQ(ProxyText(std::string(254, 'h'), 8080), std::string(254, 'h') + ":8080");
    EXPECT_EQ(ProxyText(std::string(255, 'h'), 8080), std::nullopt);
    EXPECT_EQ(MeasureDownloadSpeed(std::string(100000, 'h'), 8080), 0.0);
}

TEST(ProbeTest, AClosedPortIsNotAvailableAndNothingIsDownloaded) {
    VendorServer vendor;
    vendor.AnswerBody(std::string(kTestImageUrlPath), std::string(700, 'i'));
    FakeMessageBox messages;
    TestProxy("127.0.0.1:" + std::to_string(testsupport::FreePort()), messages);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, kNotAvailableText);
    EXPECT_TRUE(vendor.Requests().empty());
    EXPECT_EQ(MeasureResponseTime("", 80), 0);
    // The download goes through the proxy under test or not at all.
    EXPECT_EQ(MeasureDownloadSpeed("127.0.0.1", testsupport::FreePort()), 0.0);
    EXPECT_TRUE(vendor.Requests().empty());
}

TEST(ProbeTest, AListeningPortAnswersWithinItsResponseTime) {
    VendorServer listener;
    EXPECT_GE(MeasureResponseTime("127.0.0.1", listener.Port()), 1);
}

}  // namespace
