// The hostile peers as a client meets them, and the blackhole. The binary
// runs in a network namespace of its own where the system allows it (root),
// else the blackhole's test is skipped.
#include "hostile_peer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <string_view>

#include "loopback.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kRequest = "GET http://example.com/ HTTP/1.1\r\nHost: example.com\r\n\r\n";

// A client of a new port of the behaviour, its request sent.
net::Socket Ask(HostilePeer& peer, Behaviour behaviour) {
    net::Socket s = ConnectLoopback(peer.Serve(behaviour));
    if (s.Valid()) {
        SendText(s, kRequest);
    }
    return s;
}

// A receive that stopped at what it waited for, the stream still open.
constexpr int kStillOpen = -1;
// Time enough for anything a peer sends at once, on a busy machine too.
constexpr milliseconds kPrompt(kReceiveTimeoutMs);

// What arrives within the time, and how the stream ended: 0 for a close,
// else the error (ETIMEDOUT when the time ran out first), or kStillOpen.
struct Received {
    std::string data;
    int end = 0;
};

// Closed or reset: a peer that ends a connection before it has read all the
// client sent resets it.
bool Ended(const Received& received) {
    return received.end == 0 || received.end == ECONNRESET;
}

// Receives until the stream ends, the time runs out, or (when given) `until`
// has arrived.
Received ReceiveWithin(const net::Socket& s, milliseconds within, std::string_view until = {}) {
    Received received;
    const auto deadline = Clock::now() + within;
    char buffer[65536];
    for (;;) {
        if (!until.empty() && received.data.find(until) != std::string::npos) {
            received.end = kStillOpen;
            return received;
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            received.end = ETIMEDOUT;
            return received;
        }
        net::SetReceiveTimeout(s.Get(), static_cast<int>(left));
        const int n = net::Receive(s.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            received.end = n == 0 ? 0 : (errno == EAGAIN ? ETIMEDOUT : errno);
            return received;
        }
        received.data.append(buffer, static_cast<std::size_t>(n));
    }
}

TEST(HostilePeer, RefusesOrClosesBeforeAnyByte) {
    HostilePeer peer;
    const std::uint16_t refusing = peer.Serve(Behaviour::kRefuses);
    ASSERT_NE(refusing, 0);
    EXPECT_FALSE(ConnectLoopback(refusing).Valid());
    net::Socket other(net::OpenTcp());
    EXPECT_FALSE(net::BindIPv4(other.Get(), net::kLoopbackAddress, refusing))
        << "the refusing port is to stay taken";

    net::Socket closed = Ask(peer, Behaviour::kCloses);
    ASSERT_TRUE(closed.Valid());
    const Received received = ReceiveWithin(closed, kPrompt);
    EXPECT_EQ(received.data, "");
    EXPECT_TRUE(Ended(received)) << received.end;

    EXPECT_EQ(peer.Accepted(Behaviour::kRefuses), 0);
    EXPECT_EQ(peer.Accepted(Behaviour::kCloses), 1);
}

TEST(HostilePeer, SilentHoldsTheConnectionWithoutAWord) {
    HostilePeer peer;
    net::Socket s = Ask(peer, Behaviour::kSilent);
    ASSERT_TRUE(s.Valid());
    const Received received = ReceiveWithin(s, milliseconds(300));
    EXPECT_EQ(received.data, "");
    EXPECT_EQ(received.end, ETIMEDOUT);
    EXPECT_EQ(peer.Accepted(Behaviour::kSilent), 1);
}

TEST(HostilePeer, AnswersNoClientCanUse) {
    HostilePeer peer;
    net::Socket garbage = Ask(peer, Behaviour::kGarbage);
    net::Socket reset = Ask(peer, Behaviour::kResetMidBody);
    ASSERT_TRUE(garbage.Valid() && reset.Valid());

    const Received noise = ReceiveWithin(garbage, kPrompt);
    EXPECT_EQ(noise.end, 0);
    EXPECT_EQ(noise.data.size(), kGarbageLength);
    EXPECT_FALSE(noise.data.starts_with("HTTP/"));

    const Received cut = ReceiveWithin(reset, kPrompt);
    EXPECT_EQ(cut.end, ECONNRESET);
    EXPECT_TRUE(cut.data.starts_with("HTTP/1.1 200 OK\r\n")) << cut.data.substr(0, 100);
    EXPECT_NE(cut.data.find("\r\nContent-Length: " + std::to_string(kResetAnnounced) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(ResponseBody(cut.data).size(), kResetSent);
}

TEST(HostilePeer, TricklesAByteASecond) {
    HostilePeer peer;
    const auto asked = Clock::now();
    net::Socket s = Ask(peer, Behaviour::kTrickle);
    ASSERT_TRUE(s.Valid());
    // Timed from the request, which the first byte follows: a reader held up
    // meanwhile finds bytes waiting, but the third cannot have come before two
    // intervals had passed, however busy the machine.
    std::string data;
    char buffer[3];
    for (int n; data.size() < 3 &&
                (n = net::Receive(s.Get(), buffer, static_cast<int>(3 - data.size()))) > 0;) {
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_EQ(data, "HTT");
    EXPECT_GE(Clock::now() - asked, milliseconds(1900)) << "more than a byte at once";
}

TEST(HostilePeer, HeadNeverEnds) {
    HostilePeer peer;
    net::Socket s = Ask(peer, Behaviour::kEndlessHead);
    ASSERT_TRUE(s.Valid());
    const Received head = ReceiveWithin(s, kPrompt, "X-Line-4: more\r\n");
    EXPECT_EQ(head.end, kStillOpen) << head.data;
    EXPECT_TRUE(head.data.starts_with("HTTP/1.1 200 OK\r\nX-Line-1: more\r\n")) << head.data;
    EXPECT_EQ(head.data.find("\r\n\r\n"), std::string::npos);
}

TEST(HostilePeer, OkAnswersOnTheChosenPort) {
    HostilePeer peer(HostileOptions{.okBody = "fine"});
    const std::uint16_t port = FreePort();
    ASSERT_EQ(peer.Serve(Behaviour::kOk, port), port);
    net::Socket s = ConnectLoopback(port);
    ASSERT_TRUE(SendText(s, "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n"));
    const std::string response = ReceiveResponse(s);
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n")) << response;
    EXPECT_EQ(ResponseBody(response), "fine");
    EXPECT_TRUE(PeerClosed(s));
}

TEST(HostilePeer, StopEndsEveryWaitAtOnce) {
    HostilePeer peer;
    net::Socket silent = Ask(peer, Behaviour::kSilent);
    net::Socket trickle = Ask(peer, Behaviour::kTrickle);
    net::Socket head = Ask(peer, Behaviour::kEndlessHead);
    ASSERT_TRUE(WaitFor([&] {
        return peer.Accepted(Behaviour::kSilent) + peer.Accepted(Behaviour::kTrickle) +
                   peer.Accepted(Behaviour::kEndlessHead) ==
               3;
    }));
    // A trickle that missed the stop would go on for a minute, the head and
    // the silent wait for ever.
    auto stopped = std::async(std::launch::async, [&] { peer.Stop(); });
    const bool promptly = stopped.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
    EXPECT_TRUE(promptly) << "a wait did not wake on stop";
    if (!promptly) {
        silent.Reset();  // lets a silent connection that missed the stop end
    }
    stopped.wait();
    for (const net::Socket* s : {&trickle, &head}) {
        const Received received = ReceiveWithin(*s, kPrompt);
        EXPECT_TRUE(Ended(received)) << received.end;
    }
    EXPECT_EQ(peer.Serve(Behaviour::kOk), 0);
}

TEST(Blackhole, ConnectHangsUntilTheCallerGivesUp) {
    std::uint16_t port;
    {
        Blackhole blackhole(2);
        if (!blackhole.Made()) {
            GTEST_SKIP() << blackhole.WhyNot();
        }
        ASSERT_EQ(blackhole.Count(), 2);
        port = blackhole.Port(1);
        EXPECT_EQ(port, blackhole.Port(0) + 1);
        net::Socket s(net::OpenTcp());
        EXPECT_EQ(net::ConnectWithin(s.Get(), net::kLoopbackAddress, port, 300),
                  net::ConnectOutcome::kTimedOut);
    }
    // The rule and the port go with the object: refused at once again.
    net::Socket s(net::OpenTcp());
    EXPECT_EQ(net::ConnectWithin(s.Get(), net::kLoopbackAddress, port, kReceiveTimeoutMs),
              net::ConnectOutcome::kFailed);
}

}  // namespace
}  // namespace testsupport
