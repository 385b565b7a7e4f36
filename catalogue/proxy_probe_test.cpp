#include "proxy_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalogue_test_support.h"
#include "fake_message_box.h"
#include "vendor_url.h"

namespace {

using namespace std::chrono_literals;

class ScriptedProbe final : public IProxyProbe {
public:
    explicit ScriptedProbe(std::optional<ProbeFigures> figures) : m_figures(figures) {}
    std::optional<ProbeFigures> Measure(const std::string& host, int port,
                                        std::stop_token) override {
        calls.emplace_back(host + " " + std::to_string(port));
        return m_figures;
    }
    std::vector<std::string> calls;

private:
    std::optional<ProbeFigures> m_figures;
};

const ShownMessage kTesting{kTestingText, "", MessageIcon::None};
const ShownMessage kNotAvailable{kNotAvailableText, "Error", MessageIcon::None};

TEST(TestProxyTest, AnAvailableProxyIsReportedWithItsFiguresAfterTheExtraStep) {
    FakeMessageBox messages;
    ScriptedProbe probe(ProbeFigures{10, 0.6171875 / 10});
    std::vector<std::string> order;
    messages.onShow = [&] { order.push_back("message"); };
    TestProxy("10.0.0.1:8080 fast", messages, probe, [&] { order.push_back("step"); });

    EXPECT_EQ(probe.calls, std::vector<std::string>{"10.0.0.1 8080"});
    EXPECT_EQ(order, (std::vector<std::string>{"message", "step", "message"}));
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0], kTesting);
    EXPECT_EQ(messages.shown[1],
              (ShownMessage{"Proxy Server 10.0.0.1:8080 fast is Available\r\nResponse Time 10 "
                            "milliseconds \r\nDownload Speed 6.17 KB/sec \r\n",
                            "", MessageIcon::None}));
}

TEST(TestProxyTest, AnUnavailableProxyIsNotGivenTheExtraStepAndAStopGivesNoVerdict) {
    FakeMessageBox messages;
    ScriptedProbe probe(std::nullopt);
    bool stepRan = false;
    TestProxy("8080", messages, probe, [&] { stepRan = true; });
    // No ":": an empty host and the port of the whole text.
    EXPECT_EQ(probe.calls, std::vector<std::string>{" 8080"});
    EXPECT_FALSE(stepRan);
    EXPECT_EQ(messages.shown, (std::vector<ShownMessage>{kTesting, kNotAvailable}));

    // The program is ending: nothing more to tell, whatever the probe found.
    std::stop_source quit;
    quit.request_stop();
    FakeMessageBox ending;
    ScriptedProbe good(ProbeFigures{1, 1.0});
    TestProxy(
        "p:1", ending, good, [&] { stepRan = true; }, quit.get_token());
    EXPECT_FALSE(stepRan);
    EXPECT_EQ(ending.shown, std::vector<ShownMessage>{kTesting});
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
    const ProbeDeadline later = std::chrono::steady_clock::now() + kProbeLimit;
    EXPECT_EQ(MeasureDownloadSpeed(std::string(100000, 'h'), 8080, later, {}), 0.0);
}

TEST(ProbeFiguresTest, OnlyAJpegFromItsFirstToItsLastMarkerIsTheWholeImage) {
    const std::string image = TestImage();
    ASSERT_GT(image.size(), static_cast<std::size_t>(kMeasuredBytes));
    const auto whole = [](const std::vector<std::string>& pieces) {
        TestImageRead read;
        for (const std::string& piece : pieces) {
            read.Add(piece);
        }
        return read.Whole();
    };
    EXPECT_TRUE(whole({image}));
    // Markers split across pieces, and empty pieces, as a trickle brings them.
    EXPECT_TRUE(whole({image.substr(0, 1), "", image.substr(1, 1),
                       image.substr(2, image.size() - 3), image.substr(image.size() - 1)}));
    EXPECT_FALSE(whole({}));
    EXPECT_FALSE(whole({image.substr(0, image.size() / 2)}));
    EXPECT_FALSE(whole({"<html>Access denied</html>"}));
    EXPECT_FALSE(whole({image.substr(1)}));
}

TEST(ProbeTest, AClosedPortIsNotAvailableAndNothingIsDownloaded) {
    VendorServer vendor;
    vendor.AnswerBody(std::string(kTestImageUrlPath), TestImage());
    FakeMessageBox messages;
    TestProxy("127.0.0.1:" + std::to_string(testsupport::FreePort()), messages);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, kNotAvailableText);
    EXPECT_TRUE(vendor.Requests().empty());
    const ProbeDeadline later = std::chrono::steady_clock::now() + kProbeLimit;
    EXPECT_EQ(MeasureResponseTime("", 80, later, {}), 0);
    // The download goes through the proxy under test or not at all.
    EXPECT_EQ(MeasureDownloadSpeed("127.0.0.1", testsupport::FreePort(), later, {}), 0.0);
    EXPECT_TRUE(vendor.Requests().empty());
}

TEST(ProbeTest, AListeningPortAnswersWithinItsResponseTime) {
    VendorServer listener;
    const ProbeDeadline later = std::chrono::steady_clock::now() + kProbeLimit;
    EXPECT_GE(MeasureResponseTime("127.0.0.1", listener.Port(), later, {}), 1);
}

// The server stands in for the proxy: it answers the image's path, which the
// proxy is asked for in absolute form.
TEST(ProbeTest, OnlyAProxyThatRelaysTheWholeImageWithA2xxIsAvailable) {
    const std::string image = TestImage();
    const std::string path(kTestImageUrlPath);
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n";
    const std::pair<std::string, bool> answers[] = {
        {testsupport::HttpResponse(image, "Connection: close\r\n"), true},
        {head + "\r\n" + image, true},  // to the end of the connection
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found", false},
        {"HTTP/1.0 502 Bad Gateway\r\nContent-Length: " + std::to_string(image.size()) +
             "\r\n\r\n" + image,
         false},
        {"HTTP/1.0 200 OK\r\n\r\n<html>Welcome to our proxy</html>", false},
        {head + "Content-Length: " + std::to_string(image.size()) + "\r\n\r\n" +
             image.substr(0, kMeasuredBytes),
         false},
        {head + "\r\n" + image.substr(0, kMeasuredBytes), false},
        {"", false},  // closed without a byte
    };
    for (const auto& [answer, available] : answers) {
        VendorServer proxy;
        proxy.Answer(path, answer);
        ProxyProbe probe;
        EXPECT_EQ(probe.Measure("127.0.0.1", proxy.Port(), {}).has_value(), available)
            << answer.substr(0, answer.find('\r'));
        EXPECT_EQ(proxy.RequestsFor(path), 1);
    }
}

TEST(ProbeTest, ASilentProxyIsNotAvailableWithinTheLimit) {
    VendorServer proxy;
    proxy.Hold(true);
    ProxyProbe probe(1500ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(probe.Measure("127.0.0.1", proxy.Port(), {}));
    // Generous slack: only the bound is checked, against a 20-second hold.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms + 5s);
    // The request was held, not lost (the server may take it in late).
    EXPECT_TRUE(testsupport::WaitFor([&] { return proxy.Held() == 1; }));
    proxy.Hold(false);
}

TEST(ProbeTest, AStopEndsARunningProbe) {
    VendorServer proxy;
    const std::string path(kTestImageUrlPath);
    proxy.AnswerBody(path, TestImage());
    proxy.Trickle(20);  // about a minute for the image
    std::atomic<bool> ended{false};
    std::optional<ProbeFigures> figures;
    std::jthread prober([&](std::stop_token stop) {
        ProxyProbe probe(kStopLimit);
        figures = probe.Measure("127.0.0.1", proxy.Port(), stop);
        ended = true;
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return proxy.RequestsFor(path) == 1; }));
    prober.request_stop();
    EXPECT_TRUE(testsupport::WaitFor([&] { return ended.load(); }, kStopWithinMs));
    prober.join();
    EXPECT_FALSE(figures);
}

}  // namespace
