// The list check against the real judge (nginx) and real proxies that leave
// from addresses of their own (tinyproxy), started by the test fixture
// (testing/vendor_peers.sh), and against stand-ins for what no real proxy
// does on purpose. Both builds: under Wine through Winsock.
#include "proxy_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>

#include "catalogue_test_support.h"
#include "vendor_url.h"

namespace {

using namespace std::chrono_literals;

struct Checked {
    ProxyCheckRun run;
    std::vector<std::optional<ProxyCheckResult>> results;
    std::vector<std::size_t> order;  // positions as they were reported
};

Checked Check(const std::vector<std::string>& endpoints, const ProxyCheckOptions& options,
              std::stop_token stop = {}, const std::function<void(std::size_t)>& seen = {}) {
    Checked checked;
    checked.results.resize(endpoints.size());
    checked.run = CheckProxies(endpoints, options, stop,
                               [&](std::size_t position, const ProxyCheckResult& result) {
                                   EXPECT_FALSE(checked.results.at(position)) << position;
                                   EXPECT_EQ(result.endpoint, endpoints[position]);
                                   checked.results[position] = result;
                                   checked.order.push_back(position);
                                   if (seen) {
                                       seen(position);
                                   }
                               });
    return checked;
}

std::string Endpoint(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

class ProxyCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PeerFile("elite.port").empty()) {
            GTEST_SKIP() << "the peers run under ctest (fixture catalogue_peers)";
        }
        m_options.judgeUrl =
            JudgeUrl(static_cast<std::uint16_t>(std::stoi(PeerFile("nginx.port"))));
    }
    static std::string JudgeUrl(std::uint16_t port) {
        return "http://" + Endpoint(port) + "/licensing/ProxyGenerator/judge";
    }
    static std::string Peer(const std::string& name) {
        return Endpoint(static_cast<std::uint16_t>(std::stoi(PeerFile(name + ".port"))));
    }
    // A proxy that answers every GET with this whole response.
    static std::unique_ptr<VendorServer> Answering(const std::string& response) {
        auto server = std::make_unique<VendorServer>();
        server->Answer(std::string(kJudgeUrlPath), response);
        return server;
    }

    ProxyCheckOptions m_options;
};

TEST_F(ProxyCheckTest, TheJudgeTellsEachProxyApart) {
    const std::vector<std::string> entries = {
        Peer("transparent"),
        Peer("anonymous"),
        Peer("elite"),
        "localhost:" + std::to_string(std::stoi(PeerFile("elite.port"))),
        Endpoint(testsupport::FreePort()),
        ":3128"};
    const auto before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const Checked checked = Check(entries, m_options);
    const auto after = std::chrono::system_clock::now();

    EXPECT_EQ(checked.run.outcome, ProxyCheckRun::Outcome::kDone);
    EXPECT_EQ(checked.run.ownAddress, "127.0.0.1");
    struct Expected {
        ProxyState state;
        ProxyGrade grade;
        bool https;
    };
    const Expected expected[] = {
        {ProxyState::kAlive, ProxyGrade::kTransparent, true},
        {ProxyState::kAlive, ProxyGrade::kAnonymous, false},
        {ProxyState::kAlive, ProxyGrade::kElite, true},
        {ProxyState::kAlive, ProxyGrade::kElite, true},
        {ProxyState::kDead, ProxyGrade::kNone, false},
        {ProxyState::kDead, ProxyGrade::kNone, false},
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_TRUE(checked.results[i]) << entries[i];
        const ProxyCheckResult& r = *checked.results[i];
        EXPECT_EQ(r.state, expected[i].state) << entries[i];
        EXPECT_EQ(r.grade, expected[i].grade) << entries[i];
        EXPECT_EQ(r.https, expected[i].https) << entries[i];
        EXPECT_EQ(r.latencyMs >= 1, r.state == ProxyState::kAlive) << entries[i];
        EXPECT_TRUE(r.checkedAt >= before && r.checkedAt <= after) << entries[i];
    }
}

TEST_F(ProxyCheckTest, OnlyAWholeJudgesAnswerMakesAProxyAlive) {
    const auto notFound = Answering("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    const auto notJudge = Answering(testsupport::HttpResponse("hello\n", "Connection: close\r\n"));
    const auto cutShort =
        Answering("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nREMOTE_ADDR: 10.1.1.1\n");
    // Chunked, as a judge answers HTTP/1.1, naming the user's address.
    const auto chunk = [](const std::string& text) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", text.size());
        return size + text + "\r\n";
    };
    const auto fakeJudge = Answering(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" +
        chunk("REMOTE_ADDR: 10.1.1.1\n") + chunk("X-Forwarded-For: 127.0.0.1\r\n") + "0\r\n\r\n");
    const std::vector<std::string> entries = {
        Endpoint(notFound->Port()), Endpoint(notJudge->Port()), Endpoint(cutShort->Port()),
        Endpoint(fakeJudge->Port())};
    const Checked checked = Check(entries, m_options);
    ASSERT_EQ(checked.run.outcome, ProxyCheckRun::Outcome::kDone);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(checked.results[i]->state, ProxyState::kBad) << i;
    }
    EXPECT_EQ(checked.results[3]->state, ProxyState::kAlive);
    EXPECT_EQ(checked.results[3]->grade, ProxyGrade::kTransparent);
    EXPECT_FALSE(checked.results[3]->https);  // CONNECT got a 404

    // A judge that does not answer this machine leaves live proxies ungraded.
    m_options.judgeUrl = JudgeUrl(testsupport::FreePort());
    const Checked ungraded = Check({Endpoint(fakeJudge->Port())}, m_options);
    EXPECT_EQ(ungraded.run.ownAddress, "");
    EXPECT_EQ(ungraded.results[0]->state, ProxyState::kAlive);
    EXPECT_EQ(ungraded.results[0]->grade, ProxyGrade::kNone);

    m_options.judgeUrl = "https://127.0.0.1/licensing/ProxyGenerator/judge";
    EXPECT_EQ(Check(entries, m_options).run.outcome, ProxyCheckRun::Outcome::kNoJudge);
}

TEST_F(ProxyCheckTest, OneAtATimeTheEntriesEndInListOrder) {
    VendorServer silent;
    silent.Hold(true);
    const std::vector<std::string> entries = {Endpoint(silent.Port()),
                                              Endpoint(testsupport::FreePort())};
    m_options.entryLimit = 1s;
    m_options.concurrency = 1;
    const Checked one = Check(entries, m_options);
    EXPECT_EQ(one.order, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(one.results[0]->state, ProxyState::kBad);
    EXPECT_EQ(one.results[1]->state, ProxyState::kDead);
    // Side by side, the refused one needs no wait.
    m_options.concurrency = 2;
    EXPECT_EQ(Check(entries, m_options).order, (std::vector<std::size_t>{1, 0}));
    silent.Hold(false);
}

TEST_F(ProxyCheckTest, ManyWaitTogetherAndAStopFromElsewhereEndsThemAtOnce) {
    // A listener that never accepts: every connect to it succeeds and its
    // request goes unanswered. More sockets than Winsock's select takes by
    // default wait at once beside the live one.
    net::SocketLibrary library;
    net::Socket silent(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(silent.Get(), net::kLoopbackAddress, 0));
    ASSERT_TRUE(net::Listen(silent.Get(), 512));
    std::vector<std::string> entries(100, Endpoint(net::LocalPort(silent.Get())));
    entries.push_back(Peer("elite"));
    m_options.connectLimit = kStopLimit;
    m_options.entryLimit = kStopLimit;

    std::atomic<bool> eliteDone{false};
    std::atomic<bool> ended{false};
    Checked checked;
    std::jthread checker([&](std::stop_token stop) {
        checked = Check(entries, m_options, stop, [&](std::size_t position) {
            eliteDone = eliteDone || position == entries.size() - 1;
        });
        ended = true;
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return eliteDone.load(); }));
    checker.request_stop();
    EXPECT_TRUE(testsupport::WaitFor([&] { return ended.load(); }, kStopWithinMs));
    checker.join();
    EXPECT_EQ(checked.run.outcome, ProxyCheckRun::Outcome::kStopped);
    EXPECT_EQ(checked.order, std::vector<std::size_t>{entries.size() - 1});
    EXPECT_EQ(checked.results.back()->grade, ProxyGrade::kElite);
}

}  // namespace
