// The proxy port is this machine's alone. Two network namespaces made here
// stand for this machine and another host on its network, joined by a veth
// pair with private addresses: from the other host, the engine's port 8080
// cannot be reached while a listener on every address can; from this
// machine's loopback, it can. The namespaces (and the veth pair with them)
// are removed afterwards; without the right to make them the test skips.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "loopback.h"
#include "proxy_server.h"

namespace {

constexpr int kProxyPort = 8080;
constexpr int kOpenPort = 8081;  // a listener on every address: proves the path works
constexpr const char* kThisHost = "10.254.80.1";
constexpr const char* kOtherHost = "10.254.80.2";

bool RunCommand(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int Get() const { return m_fd; }

private:
    void Reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd;
};

// A named network namespace (ip netns), deleted with everything in it.
class NetworkNamespace {
public:
    explicit NetworkNamespace(std::string name)
        : m_name(std::move(name)), m_made(RunCommand("ip netns add " + m_name)) {}
    ~NetworkNamespace() {
        if (m_made) {
            RunCommand("ip netns delete " + m_name);
        }
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    bool Made() const { return m_made; }
    const std::string& Name() const { return m_name; }
    bool Exec(const std::string& command) const {
        return RunCommand("ip netns exec " + m_name + " " + command);
    }

    // Runs `work` on a thread of its own inside the namespace; sockets it
    // makes, and threads it starts, belong to the namespace.
    bool RunInside(const std::function<void()>& work) const {
        bool entered = false;
        std::thread inside([&] {
            Fd ns(::open(("/var/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC));
            if (ns.Get() < 0 || ::setns(ns.Get(), CLONE_NEWNET) != 0) {
                return;
            }
            entered = true;
            work();
        });
        inside.join();
        return entered;
    }

private:
    std::string m_name;
    bool m_made;
};

// A TCP connect with a bounded wait: true when the connection was accepted
// by a listener.
bool Connects(const char* address, int port) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (s.Get() < 0 || ::inet_pton(AF_INET, address, &to.sin_addr) != 1) {
        return false;
    }
    if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    // A refusal comes at once; an acceptance may wait on a busy machine.
    pollfd p{s.Get(), POLLOUT, 0};
    if (::poll(&p, 1, testsupport::kReceiveTimeoutMs) != 1) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// A listener on every address of the namespace it is made in.
Fd ListenEverywhere(int port) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (s.Get() < 0 || ::bind(s.Get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(s.Get(), 4) != 0) {
        return Fd();
    }
    return s;
}

bool WaitUntilRunning(const CProxyServer& server) {
    return testsupport::WaitFor([&] { return server.IsRunning() == 1; });
}

TEST(NetworkExposure, ProxyPortAnswersLoopbackOnlyNeverAnotherHost) {
    if (::geteuid() != 0 || !RunCommand("command -v ip")) {
        GTEST_SKIP() << "needs root and ip(8) to make network namespaces";
    }
    const std::string tag = std::to_string(::getpid());
    NetworkNamespace thisHost("quillon-this-" + tag);
    NetworkNamespace otherHost("quillon-other-" + tag);
    if (!thisHost.Made() || !otherHost.Made()) {
        GTEST_SKIP() << "network namespaces cannot be made here";
    }
    const std::string thisEnd = "qxa" + tag;
    const std::string otherEnd = "qxb" + tag;
    ASSERT_TRUE(RunCommand("ip link add " + thisEnd + " netns " + thisHost.Name() +
                           " type veth peer name " + otherEnd + " netns " + otherHost.Name()));
    ASSERT_TRUE(thisHost.Exec("ip link set lo up"));
    ASSERT_TRUE(thisHost.Exec("ip addr add " + std::string(kThisHost) + "/30 dev " + thisEnd));
    ASSERT_TRUE(thisHost.Exec("ip link set " + thisEnd + " up"));
    ASSERT_TRUE(otherHost.Exec("ip addr add " + std::string(kOtherHost) + "/30 dev " + otherEnd));
    ASSERT_TRUE(otherHost.Exec("ip link set " + otherEnd + " up"));

    CProxyServer server;
    Fd open;
    bool running = false;
    ASSERT_TRUE(thisHost.RunInside([&] {
        open = ListenEverywhere(kOpenPort);
        running = server.Start(kProxyPort, 0, "", 0, "", "") && WaitUntilRunning(server);
    }));
    ASSERT_GE(open.Get(), 0);
    ASSERT_TRUE(running);
    ASSERT_EQ(server.ListeningPort(), kProxyPort);

    bool otherReachesOpenPort = false;
    bool otherReachesProxy = true;
    ASSERT_TRUE(otherHost.RunInside([&] {
        otherReachesOpenPort = Connects(kThisHost, kOpenPort);
        otherReachesProxy = Connects(kThisHost, kProxyPort);
    }));
    bool loopbackReachesProxy = false;
    bool ownAddressReachesProxy = true;
    ASSERT_TRUE(thisHost.RunInside([&] {
        loopbackReachesProxy = Connects("127.0.0.1", kProxyPort);
        ownAddressReachesProxy = Connects(kThisHost, kProxyPort);
    }));
    server.Stop();

    EXPECT_TRUE(otherReachesOpenPort) << "the veth path itself does not work";
    EXPECT_FALSE(otherReachesProxy);
    EXPECT_TRUE(loopbackReachesProxy);
    EXPECT_FALSE(ownAddressReachesProxy);
}

}  // namespace
