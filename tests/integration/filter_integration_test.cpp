// The content filter end to end: the engine with the filter switched on,
// nginx as the upstream, curl or a raw socket as the browser.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "fake_filter_switches.h"
#include "html_response_filter.h"
#include "loopback.h"
#include "peers.h"
#include "proxy_server.h"

namespace {

using namespace testsupport;
using namespace std::string_literals;

const std::string kPage =
    "<html><head><script>var w = window.open('ad.html');</script></head>\n"
    "<body><object data=x></object><p>text</p></body></html>\n";
// With EnableJS = 0, EnableActiveX = 1, BlockPopups = 1.
const std::string kFiltered =
    "<html><head><noscript>var w = //ndow.open('ad.html');</noscript> </head>\n"
    "<body><noobj  data=x></noobj> <p>text</p></body></html>\n";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FilterIntegration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_origin = new Nginx;
        ASSERT_TRUE(s_origin->Ready()) << "nginx did not start";
        s_origin->WriteFile("page.html", kPage);
        s_origin->WriteFile("image.bin", "\x89PNG\0\0<script>window.open\0\xff"s);
        std::string big;
        std::string bigFiltered;
        while (big.size() < (5u << 20)) {
            big += kPage;
            bigFiltered += kFiltered;
        }
        s_origin->WriteFile("big.html", big);
        s_bigFiltered = new std::string(std::move(bigFiltered));
        s_bigPages = big.size() / kPage.size();
    }
    static void TearDownTestSuite() {
        delete s_origin;
        delete s_bigFiltered;
    }

    void SetUp() override { StartEngine(s_origin->Port()); }
    // The relays read the switches until their connection ends: let them end
    // before the switches go.
    void TearDown() override {
        m_engine.Stop();
        EXPECT_TRUE(WaitForEngineJobs(0));
    }

    void StartEngine(std::uint16_t upstream) {
        m_engine.SetFilterFactory(
            std::make_shared<HtmlFilterFactory>(m_switches.Live(), m_counter));
        ASSERT_TRUE(m_engine.Start(0, 1, "127.0.0.1", upstream, "", ""));
        ASSERT_TRUE(WaitFor([this] { return m_engine.IsRunning() == 1; }));
    }

    std::uint32_t Popups() { return m_switches.FoldedPopups(*m_counter); }

    static std::string Url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(s_origin->Port()) + path;
    }

    // curl's options for transfers through the engine, each bounded in time
    // (options do not carry over a --next).
    std::string ThroughTheEngine() const {
        return "--max-time 60 --noproxy '' -x http://127.0.0.1:" +
               std::to_string(m_engine.ListeningPort()) + " ";
    }
    // Runs curl through the engine; returns what it printed.
    std::string Curl(const std::string& arguments) {
        const std::string command = "curl -sS " + ThroughTheEngine() + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        std::size_t n;
        while (pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        if (pipe != nullptr) {
            m_curlStatus = pclose(pipe);
        }
        return out;
    }

    FakeFilterSwitches m_switches{0, 1, 1};
    std::shared_ptr<PopupCounter> m_counter = std::make_shared<PopupCounter>();
    CProxyServer m_engine;
    int m_curlStatus = -1;
    static Nginx* s_origin;
    static std::string* s_bigFiltered;
    static std::size_t s_bigPages;
};

Nginx* FilterIntegration::s_origin = nullptr;
std::string* FilterIntegration::s_bigFiltered = nullptr;
std::size_t FilterIntegration::s_bigPages = 0;

TEST_F(FilterIntegration, CurlReadsEveryResponseOfOneConnection) {
    TempDir out;
    const std::string o = out.Path() + "/";
    // Plain HTML, gzip in chunks, an image, a 204, a page of 5 MiB and HTML
    // again, all on one kept-alive connection.
    const std::string printed = Curl(
        "-w '%{http_code} %{num_connects}\\n' "
        "-o " +
        o + "1 " + Url("/page.html") + " --next " + ThroughTheEngine() +
        "-w '%{http_code} %{num_connects}\\n' --compressed -o " + o + "2 " + Url("/page.html") +
        " -o " + o + "3 " + Url("/image.bin") + " -o " + o + "4 " + Url("/nocontent") + " -o " + o +
        "5 " + Url("/big.html") + " -o " + o + "6 " + Url("/page.html"));
    EXPECT_EQ(m_curlStatus, 0) << printed;
    EXPECT_EQ(printed, "200 1\n200 0\n200 0\n204 0\n200 0\n200 0\n");
    EXPECT_EQ(ReadFile(o + "1"), kFiltered);
    EXPECT_EQ(ReadFile(o + "2"), kFiltered);
    EXPECT_EQ(ReadFile(o + "3"), "\x89PNG\0\0<script>window.open\0\xff"s);
    EXPECT_TRUE(ReadFile(o + "5") == *s_bigFiltered) << "the big page is filtered too";
    EXPECT_EQ(ReadFile(o + "6"), kFiltered);
    EXPECT_EQ(Popups(), 3u + s_bigPages);
}

TEST_F(FilterIntegration, CompressedHttp10AnswerEndsWithTheClose) {
    const std::string printed = Curl("--http1.0 --compressed -D - " + Url("/page.html"));
    EXPECT_EQ(m_curlStatus, 0) << printed;
    EXPECT_NE(printed.find("Connection: close\r\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Content-Length"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("Content-Encoding"), std::string::npos) << printed;
    EXPECT_TRUE(printed.ends_with("\r\n\r\n" + kFiltered)) << printed;
}

// Each request the browser sends on a kept-alive connection is followed
// through the relay, so that every answer is read as the answer to its own
// request: a HEAD's answer carries no body to wait for.
TEST_F(FilterIntegration, AHeadAfterAGetOnTheSameConnection) {
    const std::string next =
        " --next " + ThroughTheEngine() + "-w '%{http_code} %{num_connects}\\n' ";
    TempDir out;
    const std::string printed =
        Curl("-w '%{http_code} %{num_connects}\\n' -o " + out.Path() + "/1 " + Url("/page.html") +
             next + "-I -o " + out.Path() + "/2 " + Url("/page.html") + next + "-o " + out.Path() +
             "/3 " + Url("/page.html"));
    EXPECT_EQ(m_curlStatus, 0) << printed;
    EXPECT_EQ(printed, "200 1\n200 0\n200 0\n");
    EXPECT_EQ(ReadFile(out.Path() + "/1"), kFiltered);
    EXPECT_NE(ReadFile(out.Path() + "/2").find("Content-Length: " + std::to_string(kPage.size())),
              std::string::npos);
    EXPECT_EQ(ReadFile(out.Path() + "/3"), kFiltered);
}

// A switch changed while a browser keeps its connection open reaches that
// connection's next page.
TEST_F(FilterIntegration, ASwitchFlippedReachesAKeptAliveConnection) {
    m_switches.Set(0, 0, 0);
    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    const std::string get = "GET " + Url("/page.html") +
                            " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(s_origin->Port()) +
                            "\r\n\r\n";
    SendText(browser, get);
    EXPECT_EQ(ResponseBody(ReceiveResponse(browser)), kPage);
    m_switches.Set(0, 1, 1);
    SendText(browser, get);
    EXPECT_EQ(ResponseBody(ReceiveResponse(browser)), kFiltered);
    m_switches.Set(0, 0, 0);
    SendText(browser, get);
    EXPECT_EQ(ResponseBody(ReceiveResponse(browser)), kPage);
}

TEST_F(FilterIntegration, BodilessAnswersOnAKeptAliveConnection) {
    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    const std::string host = "Host: 127.0.0.1:" + std::to_string(s_origin->Port()) + "\r\n";
    SendText(browser, "HEAD " + Url("/page.html") + " HTTP/1.1\r\n" + host + "\r\n" + "GET " +
                          Url("/nocontent") + " HTTP/1.1\r\n" + host + "\r\n" + "GET " +
                          Url("/page.html") + " HTTP/1.1\r\n" + host +
                          "If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n\r\n" + "GET " +
                          Url("/page.html") + " HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n");
    const std::string all = ReceiveToClose(browser);
    // HEAD keeps nginx's own length of the page; 204 and 304 carry nothing.
    const std::size_t head = all.find("HTTP/1.1 200 OK");
    const std::size_t noContent = all.find("HTTP/1.1 204");
    const std::size_t notModified = all.find("HTTP/1.1 304");
    const std::size_t page = all.find("HTTP/1.1 200 OK", notModified);
    ASSERT_TRUE(head == 0 && noContent != std::string::npos && notModified != std::string::npos &&
                page != std::string::npos)
        << all;
    EXPECT_NE(all.substr(0, noContent).find("Content-Length: " + std::to_string(kPage.size())),
              std::string::npos);
    EXPECT_EQ(ResponseBody(all.substr(page)), kFiltered) << all;
    EXPECT_NE(all.find("Transfer-Encoding: chunked", page), std::string::npos);
}

// An upstream of the test's own that writes its answer in awkward pieces.
TEST_F(FilterIntegration, TokensSplitAcrossSegmentsAndTunnelsUntouched) {
    LoopbackServer upstream([](net::Socket& c) {
        std::string request = ReceiveRequest(c);
        if (request.starts_with("CONNECT")) {
            SendText(c, "HTTP/1.1 200 Connection established\r\n\r\n<script>window.open()");
            return;
        }
        const std::string body = "<scr|ipt>window.op|en()</script>";
        SendText(
            c, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n");
        std::size_t from = 0;
        for (std::size_t bar; (bar = body.find('|', from)) != std::string::npos; from = bar + 1) {
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", bar - from);
            SendText(c, size + body.substr(from, bar - from) + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", body.size() - from);
        SendText(c, size + body.substr(from) + "\r\n0\r\n\r\n");
    });
    m_engine.Stop();
    StartEngine(upstream.Port());

    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    SendText(browser, "GET http://o.test/ HTTP/1.1\r\nHost: o.test\r\n\r\n");
    const std::string response = ReceiveResponse(browser);
    EXPECT_TRUE(response.starts_with(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"))
        << response;
    EXPECT_EQ(ResponseBody(response), "<noscript>//ndow.open()</noscript> ");

    net::Socket tunnel = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    SendText(tunnel, "CONNECT o.test:443 HTTP/1.1\r\nHost: o.test:443\r\n\r\n");
    EXPECT_EQ(ReceiveToClose(tunnel),
              "HTTP/1.1 200 Connection established\r\n\r\n<script>window.open()");
}

// Answer heads as long as a browser takes (cookies by the dozen, say) are
// followed, and so is the rest of their connection; a longer one is refused.
TEST_F(FilterIntegration, LongAnswerHeadsAreFilteredAndLongerOnesRefused) {
    LoopbackServer upstream([](net::Socket& c) {
        for (std::string request; !(request = ReceiveRequest(c)).empty();) {
            const std::size_t padding = request.find("/long") != std::string::npos   ? 80000
                                        : request.find("/huge") != std::string::npos ? 300000
                                                                                     : 0;
            std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(kPage.size()) + "\r\n";
            for (std::size_t line = 0; line < padding; line += 1000) {
                head +=
                    "Set-Cookie: c" + std::to_string(line) + "=" + std::string(980, 'c') + "\r\n";
            }
            SendText(c, head + "\r\n" + kPage);
        }
    });
    m_engine.Stop();
    StartEngine(upstream.Port());
    auto get = [](const std::string& path) {
        return "GET http://o.test" + path + " HTTP/1.1\r\nHost: o.test\r\n\r\n";
    };

    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    for (const char* path : {"/long", "/page"}) {
        SendText(browser, get(path));
        EXPECT_EQ(ResponseBody(ReceiveResponse(browser)), kFiltered) << path;
    }

    net::Socket refused = ConnectLoopback(static_cast<std::uint16_t>(m_engine.ListeningPort()));
    SendText(refused, get("/huge"));
    const std::string answer = ReceiveToClose(refused);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 502 Bad Gateway\r\n")) << answer.substr(0, 200);
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << answer;
    EXPECT_EQ(ResponseBody(answer), "Bad Gateway: the server's answer header was too long.\n");
}

// The program's end with pages still flowing: nothing a relay reads may be
// destroyed by the end of main (the sanitizer build reports it if it is).
TEST(FilterAtExit, TheProcessEndsCleanlyWhileConnectionsRelay) {
    for (int run = 0; run < 3; ++run) {
        TempDir config;
        // Threads still running at the end are the point here, not a leak;
        // a race among them is still reported.
        const char* tsan = std::getenv("TSAN_OPTIONS");
        const std::string command = "XDG_CONFIG_HOME=" + config.Path() + " TSAN_OPTIONS='" +
                                    (tsan != nullptr ? std::string(tsan) + ":" : std::string()) +
                                    "report_thread_leaks=0' " + EXIT_WHILE_RELAYING + " 2>" +
                                    config.Path() + "/err";
        const int status = std::system(command.c_str());
        const std::string err = ReadFile(config.Path() + "/err");
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(err.find("AddressSanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("ThreadSanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    }
}

}  // namespace

namespace {

// Headless Chromium, in a network namespace of its own, loads a page whose
// script opens a pop-up: with the switch on the script never runs.
std::string BrowserCheck(const char* mode) {
    const std::string command = std::string("unshare -n sh -c 'ip link set lo up && exec ") +
                                FILTER_BROWSER_CHECK + " " + mode + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n;
    while (pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return out;
}

TEST(FilterInBrowser, ChromiumNeverRunsTheRewrittenPopupCall) {
    if (access("/usr/bin/chromium", X_OK) != 0 || access("/usr/bin/unshare", X_OK) != 0 ||
        system("unshare -n true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs chromium and unshare -n";
    }
    const std::string off = BrowserCheck("off");
    EXPECT_NE(off.find("<title>opened</title>"), std::string::npos) << off;
    EXPECT_NE(off.find("popups 0"), std::string::npos) << off;
    const std::string on = BrowserCheck("on");
    EXPECT_NE(on.find("<title>untouched</title>"), std::string::npos) << on;
    EXPECT_NE(on.find("popups 1"), std::string::npos) << on;
}

}  // namespace
