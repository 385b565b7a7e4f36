// The two helper programs as run.sh runs them: separate processes, a stand-in
// upstream on loopback, bounded waits everywhere.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "loopback.h"

extern char** environ;

namespace {

using namespace testsupport;

constexpr int kWaitMs = 10000;

// A child process; killed and reaped when the test lets go of it.
class Child {
public:
    // stdin is a pipe the test holds when pipeStdin, /dev/null otherwise.
    Child(const std::vector<std::string>& args, bool pipeStdin = false) {
        int out[2];
        int in[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || (pipeStdin && ::pipe2(in, O_CLOEXEC) != 0)) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (pipeStdin) {
            posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        if (pipeStdin) {
            ::close(in[0]);
            m_in = in[1];
        }
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        CloseStdin();
        if (m_out >= 0) {
            ::close(m_out);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const { ::kill(m_pid, signal); }
    void CloseStdin() {
        if (m_in >= 0) {
            ::close(m_in);
            m_in = -1;
        }
    }

    // The next line of standard output; empty when none comes in time.
    std::string ReadLine(int timeoutMs = kWaitMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::size_t end;
        while ((end = m_buffered.find('\n')) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_out, POLLIN, 0};
            char chunk[512];
            ssize_t n;
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                (n = ::read(m_out, chunk, sizeof chunk)) <= 0) {
                return {};
            }
            m_buffered.append(chunk, static_cast<std::size_t>(n));
        }
        std::string line = m_buffered.substr(0, end);
        m_buffered.erase(0, end + 1);
        return line;
    }

    // The exit code once the child has ended; nothing while it still runs
    // after timeoutMs (or when it died from a signal).
    std::optional<int> WaitExit(int timeoutMs = kWaitMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                if (WIFEXITED(status)) {
                    return WEXITSTATUS(status);
                }
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < deadline);
        return std::nullopt;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    std::string m_buffered;
};

std::string Upstream(std::uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

// The port of a runner that said "ready PORT"; 0 otherwise.
int ReadyPort(Child& runner) {
    std::string line = runner.ReadLine();
    if (line.rfind("ready ", 0) != 0) {
        return 0;
    }
    return bench::ParsePort(line.substr(6)).value_or(0);
}

// Answers one request with `response`, then keeps the connection until the
// other side closes it (or closes at once when closeAfter).
LoopbackServer::Handler Answer(std::string response, bool closeAfter = false) {
    return [response, closeAfter](net::Socket& c) {
        ReceiveRequest(c);
        SendText(c, response);
        if (!closeAfter) {
            ReceiveToClose(c);
        }
    };
}

// "key=value" pairs of the holder's report line.
std::map<std::string, std::string> Report(const std::string& line) {
    std::map<std::string, std::string> values;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        auto eq = word.find('=');
        if (eq != std::string::npos) {
            values[word.substr(0, eq)] = word.substr(eq + 1);
        }
    }
    return values;
}

TEST(EngineRunner, RefusesBadArguments) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{},
                                               {"0"},
                                               {"x", "127.0.0.1:1"},
                                               {"0", "127.0.0.1:0"},
                                               {"0", "127.0.0.1"},
                                               {"0", "127.0.0.1:1", "extra"}}) {
        args.insert(args.begin(), ENGINE_RUNNER);
        Child runner(args);
        EXPECT_EQ(runner.WaitExit(), 2) << args.size() << " arguments";
    }
}

TEST(EngineRunner, RelaysToTheUpstreamItWasGivenAndStopsOnSigterm) {
    LoopbackServer upstream(Answer(HttpResponse("hello"), true));
    Child runner({ENGINE_RUNNER, "0", Upstream(upstream.Port())});
    int port = ReadyPort(runner);
    ASSERT_GT(port, 0);

    net::Socket browser = ConnectLoopback(static_cast<std::uint16_t>(port));
    ASSERT_TRUE(
        SendText(browser, "GET http://example.test/ HTTP/1.1\r\nHost: example.test\r\n\r\n"));
    std::string response = ReceiveResponse(browser);
    EXPECT_NE(response.find("\r\n\r\nhello"), std::string::npos) << response;
    EXPECT_EQ(upstream.Accepted(), 1);

    runner.Signal(SIGTERM);
    EXPECT_EQ(runner.WaitExit(), 0);
}

TEST(EngineRunner, StopsOnSigint) {
    LoopbackServer upstream(Answer(HttpResponse("x")));
    Child runner({ENGINE_RUNNER, "0", Upstream(upstream.Port())});
    ASSERT_GT(ReadyPort(runner), 0);
    runner.Signal(SIGINT);
    EXPECT_EQ(runner.WaitExit(), 0);
}

TEST(EngineRunner, StopsWhenAPipedStdinEnds) {
    LoopbackServer upstream(Answer(HttpResponse("x")));
    Child runner({ENGINE_RUNNER, "0", Upstream(upstream.Port())}, true);
    ASSERT_GT(ReadyPort(runner), 0);
    EXPECT_FALSE(runner.WaitExit(200));  // an open pipe keeps it running
    runner.CloseStdin();
    EXPECT_EQ(runner.WaitExit(), 0);
}

TEST(EngineRunner, KeepsRunningWithStdinFromDevNull) {
    // How a shell starts a background job: stdin at its end from the start.
    LoopbackServer upstream(Answer(HttpResponse("x")));
    Child runner({ENGINE_RUNNER, "0", Upstream(upstream.Port())});
    int port = ReadyPort(runner);
    ASSERT_GT(port, 0);
    EXPECT_FALSE(runner.WaitExit(300));
    EXPECT_TRUE(ConnectLoopback(static_cast<std::uint16_t>(port)).Valid());
}

TEST(EngineRunner, NeverSaysReadyOnAPortInUse) {
    net::Socket taken(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(taken.Get(), net::kLoopbackAddress, 0));
    ASSERT_TRUE(net::Listen(taken.Get(), 4));
    Child runner({ENGINE_RUNNER, std::to_string(net::LocalPort(taken.Get())), "127.0.0.1:9"});
    EXPECT_EQ(runner.ReadLine(), "");
    EXPECT_EQ(runner.WaitExit(), 1);
}

class HoldConnections : public ::testing::Test {
protected:
    static constexpr int kCount = 20;

    // Runs the holder through a fresh runner towards the upstream; its
    // report, or nothing when it did not end with 0.
    std::map<std::string, std::string> Hold(LoopbackServer& upstream) {
        Child runner({ENGINE_RUNNER, "0", Upstream(upstream.Port())});
        int port = ReadyPort(runner);
        if (port == 0) {
            ADD_FAILURE() << "engine_runner not ready";
            return {};
        }
        Child holder({HOLD_CONNECTIONS, std::to_string(port), Upstream(upstream.Port()), "/1k",
                      std::to_string(runner.Pid()), std::to_string(kCount)});
        std::string line = holder.ReadLine(60000);
        if (holder.WaitExit() != 0) {
            ADD_FAILURE() << "hold_connections failed: " << line;
            return {};
        }
        return Report(line);
    }
};

TEST_F(HoldConnections, HoldsEveryAnsweredConnection) {
    LoopbackServer upstream(Answer(HttpResponse(std::string(1024, 'q'))));
    auto report = Hold(upstream);
    EXPECT_EQ(report["held"], std::to_string(kCount));
    EXPECT_EQ(report["failed"], "0");
    EXPECT_EQ(report["dropped"], "0");
    // The engine's two relay workers per connection cost something.
    EXPECT_GT(bench::ParseNumber(report["rss_after_kib"], 1, 1L << 40).value_or(0),
              bench::ParseNumber(report["rss_before_kib"], 1, 1L << 40).value_or(1L << 40));
    EXPECT_EQ(upstream.Accepted(), kCount);
}

TEST_F(HoldConnections, CountsErrorAnswersAsFailed) {
    LoopbackServer upstream(Answer("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"));
    auto report = Hold(upstream);
    EXPECT_EQ(report["held"], "0");
    EXPECT_EQ(report["failed"], std::to_string(kCount));
}

TEST_F(HoldConnections, CountsConnectionsClosedWhileHeld) {
    // The upstream closes after answering; the engine passes the close on.
    LoopbackServer upstream(Answer(HttpResponse("bye"), true));
    auto report = Hold(upstream);
    EXPECT_EQ(report["held"], std::to_string(kCount));
    EXPECT_EQ(report["failed"], "0");
    EXPECT_EQ(report["dropped"], std::to_string(kCount));
}

}  // namespace
