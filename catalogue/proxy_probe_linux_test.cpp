// The probe against upstream proxies as the public lists have them, in a
// network namespace of the test's own where the system allows it: blackholed
// ports need one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "catalogue_test_support.h"
#include "hostile_peer.h"
#include "proxy_probe.h"
#include "test_environment.h"
#include "vendor_url.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Behaviour;

// The probe's limit, short for the tests of proxies that never get there,
// and the slack its bound is checked with.
constexpr auto kLimit = 1500ms;
constexpr auto kSlack = 5s;

class HostileProxyTest : public ::testing::Test {
protected:
    HostileProxyTest() {
        // Should a fault take the download past the proxy, it stays on loopback.
        SetEnvironment(kVendorUrlVariable,
                       "http://127.0.0.1:" + std::to_string(testsupport::FreePort()));
    }
    // Whether the probe found the proxy available; it must tell within its limit.
    static bool Available(std::uint16_t port, std::chrono::milliseconds limit = kLimit) {
        const auto start = std::chrono::steady_clock::now();
        const bool available = ProxyProbe(limit).Measure("127.0.0.1", port, {}).has_value();
        EXPECT_LT(std::chrono::steady_clock::now() - start, limit + kSlack) << port;
        return available;
    }
};

// A connect to the port waits for its SYN-ACK (/proc/net/tcp: state 02).
bool SynSentTo(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X 02", static_cast<unsigned>(port));
    for (std::string line; std::getline(table, line);) {
        if (line.find(remote) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(HostileProxyTest, OnlyTheProxyThatRelaysTheImageIsAvailable) {
    testsupport::HostilePeer peer(testsupport::HostileOptions{TestImage()});
    for (Behaviour behaviour : testsupport::kBehaviours) {
        const std::uint16_t port = peer.Serve(behaviour);
        ASSERT_NE(port, 0);
        // The good one gets the program's own limit: a busy machine may take
        // longer than the short one for a whole download.
        const bool ok = behaviour == Behaviour::kOk;
        EXPECT_EQ(Available(port, ok ? kProbeLimit : kLimit), ok)
            << testsupport::BehaviourName(behaviour);
    }
}

TEST_F(HostileProxyTest, ABlackholedProxyIsNotAvailableAndAStopEndsItsConnect) {
    testsupport::Blackhole blackhole;
    if (!blackhole.Made()) {
        GTEST_SKIP() << blackhole.WhyNot();
    }
    EXPECT_FALSE(Available(blackhole.Port()));

    std::atomic<bool> ended{false};
    std::jthread prober([&](std::stop_token stop) {
        ProxyProbe(kStopLimit).Measure("127.0.0.1", blackhole.Port(), stop);
        ended = true;
    });
    ASSERT_TRUE(testsupport::WaitFor([&] { return SynSentTo(blackhole.Port()); }));
    prober.request_stop();
    EXPECT_TRUE(testsupport::WaitFor([&] { return ended.load(); }, kStopWithinMs));
}

}  // namespace
