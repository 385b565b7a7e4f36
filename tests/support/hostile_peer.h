// Upstream proxies as the public lists have them: a loopback server that
// meets every connection on a port with one hostile behaviour, and loopback
// ports whose SYNs vanish. Linux only.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "socket_shim.h"

namespace testsupport {

// What a client meets that connects and sends a request.
enum class Behaviour {
    kRefuses,       // nothing listens: the connect is refused at once
    kCloses,        // accepted, then closed without a byte
    kSilent,        // reads, never writes, holds the connection until either side ends
    kGarbage,       // a few KiB of random bytes that are no HTTP, then the end
    kResetMidBody,  // a 200 announcing kResetAnnounced bytes, kResetSent of them, a reset
    kTrickle,       // a whole valid 200, one byte per interval
    kEndlessHead,   // a status line, then a header line per interval, never the empty line
    kOk,            // a well-behaved 200 with the given body, whatever the request
};
inline constexpr std::array kBehaviours = {
    Behaviour::kRefuses,      Behaviour::kCloses,  Behaviour::kSilent,      Behaviour::kGarbage,
    Behaviour::kResetMidBody, Behaviour::kTrickle, Behaviour::kEndlessHead, Behaviour::kOk,
};

inline constexpr std::size_t kGarbageLength = 4096;
inline constexpr std::size_t kResetAnnounced = 1 << 20;
// Small enough to fit the client's window: every byte of it is on the wire
// before the reset.
inline constexpr std::size_t kResetSent = 16 << 10;

// The command line's names: refuses, closes, silent, garbage, reset, trickle,
// endless-head, ok.
std::string_view BehaviourName(Behaviour behaviour);
std::optional<Behaviour> BehaviourNamed(std::string_view name);

struct HostileOptions {
    std::string okBody = "ok";
    int trickleIntervalMs = 1000;
    int headLineIntervalMs = 100;
};

// Serves behaviours on 127.0.0.1, one per port, every connection on a thread
// of its own. Stop (or the destructor) wakes every wait, ends every
// connection and joins every thread at once.
class HostilePeer {
public:
    HostilePeer() : HostilePeer(HostileOptions{}) {}
    explicit HostilePeer(HostileOptions options);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    // Serves the behaviour on `port` (a free one for 0), also while others
    // run; the port, or 0 when it cannot be had or the peer has stopped. A
    // port that refuses stays bound without listening, so nothing else can
    // take it meanwhile.
    std::uint16_t Serve(Behaviour behaviour, std::uint16_t port = 0);
    // Connections accepted so far on the ports of the behaviour.
    int Accepted(Behaviour behaviour) const;
    void Stop();

private:
    struct Listener {
        Listener(Behaviour b, std::uint16_t p) : behaviour(b), port(p) {}
        const Behaviour behaviour;
        const std::uint16_t port;
        std::atomic<net::SocketHandle> socket{net::kNoSocket};
        std::atomic<int> accepted{0};
        std::thread acceptor;
    };
    struct Connection {
        net::SocketHandle socket = net::kNoSocket;  // changed under m_mutex
        std::atomic<bool> finished{false};
        std::thread thread;
    };

    void AcceptLoop(Listener& listener);
    void Run(Behaviour behaviour, Connection& connection);
    // True when the connection is to end with a reset.
    bool Meet(Behaviour behaviour, net::SocketHandle s);
    // Waits, or less when the peer stops; false once it has stopped.
    bool Pause(int milliseconds);
    bool Stopping() const;

    const HostileOptions m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::list<Listener> m_listeners;
    std::list<Connection> m_connections;
};

// Loopback ports whose SYNs an nftables rule drops, so that a connect to
// them hangs until the caller gives up. Made only as root inside a network
// namespace of the test's own (own_network_namespace.h); the rule goes with
// the object. The ports stay bound meanwhile, never listening, so that no
// server of the test lands on them unawares.
class Blackhole {
public:
    explicit Blackhole(int count = 1);
    ~Blackhole();
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;

    bool Made() const { return !m_table.empty(); }
    // Why it could not be made: for GTEST_SKIP and the command line.
    const std::string& WhyNot() const { return m_whyNot; }
    int Count() const { return Made() ? static_cast<int>(m_held.size()) : 0; }
    // The index-th port of the range; 0 when not made.
    std::uint16_t Port(int index = 0) const;

private:
    bool HoldPorts(int count);

    std::vector<net::Socket> m_held;
    std::uint16_t m_first = 0;
    std::string m_table;
    std::string m_whyNot;
};

}  // namespace testsupport
