// hostile_peer: the tests' hostile upstream proxies for the desktop tests
// (Python) and the benchmarks (shell). It prints where each behaviour is
// served, then `ready`, and runs until SIGTERM, SIGINT or SIGHUP, or until
// its standard input (a pipe or socket) closes, so that it never outlives a
// test that dies. A line `counts` on standard input asks for the number of
// connections each behaviour has accepted; they are printed at the end too.
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "hostile_peer.h"
#include "unique_fd.h"

namespace {

constexpr const char* kUsage =
    "usage: hostile_peer [--blackhole[=COUNT]] [--ok-body TEXT] BEHAVIOUR...\n"
    "  BEHAVIOUR: refuses closes silent garbage reset trickle endless-head ok\n"
    "  (a name may repeat: each gets a port of its own)\n"
    "Prints `NAME 127.0.0.1:PORT` per behaviour, `blackhole 127.0.0.1:PORT` per\n"
    "blackholed port (root, inside a network namespace of the test's own, with\n"
    "QUILLON_OUTER_NETNS set), then `ready`. Ends on SIGTERM, SIGINT, SIGHUP or\n"
    "when standard input, if a pipe or socket, closes. A line `counts` on standard\n"
    "input prints `accepted NAME N` per behaviour, then `end`; so does the end.\n";

struct Arguments {
    std::vector<testsupport::Behaviour> behaviours;
    int blackholePorts = 0;
    std::string okBody = "ok";
};

std::optional<Arguments> Parse(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--blackhole") {
            arguments.blackholePorts = 1;
        } else if (argument.starts_with("--blackhole=")) {
            arguments.blackholePorts = std::atoi(argument.c_str() + 12);
        } else if (argument == "--ok-body" && i + 1 < argc) {
            arguments.okBody = argv[++i];
        } else if (auto behaviour = testsupport::BehaviourNamed(argument)) {
            arguments.behaviours.push_back(*behaviour);
        } else {
            return std::nullopt;
        }
    }
    if (arguments.behaviours.empty() && arguments.blackholePorts == 0) {
        return std::nullopt;
    }
    return arguments;
}

void PrintCounts(const testsupport::HostilePeer& peer, const Arguments& arguments) {
    for (testsupport::Behaviour b : testsupport::kBehaviours) {
        for (testsupport::Behaviour asked : arguments.behaviours) {
            if (asked == b) {
                std::printf("accepted %s %d\n", testsupport::BehaviourName(b).data(),
                            peer.Accepted(b));
                break;
            }
        }
    }
    std::printf("end\n");
    std::fflush(stdout);
}

bool WatchInput() {
    struct stat input {};
    return ::fstat(0, &input) == 0 && (S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode));
}

// Waits for the end, answering `counts` lines meanwhile.
void Wait(int signals, const testsupport::HostilePeer& peer, const Arguments& arguments) {
    const bool watchInput = WatchInput();
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {0, POLLIN, 0}};
        if (::poll(fds, watchInput ? 2 : 1, -1) < 0) {
            continue;  // EINTR: the signals that end it are blocked, others may come
        }
        if (fds[0].revents != 0) {
            return;
        }
        char buffer[256];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (pending.compare(0, end, "counts") == 0) {
                PrintCounts(peer, arguments);
            }
            pending.erase(0, end + 1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Arguments> arguments = Parse(argc, argv);
    if (!arguments) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Blocked before any thread starts, so that every thread leaves them to
    // the signalfd; a reader that has gone must not kill the process before
    // the blackhole's rule is removed.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    testsupport::UniqueFd signals(::signalfd(-1, &ending, SFD_CLOEXEC));
    if (!signals.Valid()) {
        std::perror("hostile_peer: signalfd");
        return 1;
    }

    testsupport::HostilePeer peer(testsupport::HostileOptions{.okBody = arguments->okBody});
    for (testsupport::Behaviour b : arguments->behaviours) {
        const std::uint16_t port = peer.Serve(b);
        if (port == 0) {
            std::fprintf(stderr, "hostile_peer: no port for %s\n",
                         testsupport::BehaviourName(b).data());
            return 1;
        }
        std::printf("%s 127.0.0.1:%u\n", testsupport::BehaviourName(b).data(), port);
    }
    std::optional<testsupport::Blackhole> blackhole;
    if (arguments->blackholePorts > 0) {
        blackhole.emplace(arguments->blackholePorts);
        for (int i = 0; i < blackhole->Count(); ++i) {
            std::printf("blackhole 127.0.0.1:%u\n", blackhole->Port(i));
        }
        if (!blackhole->Made()) {
            std::fprintf(stderr, "hostile_peer: no blackhole: %s\n", blackhole->WhyNot().c_str());
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);

    Wait(signals.Get(), peer, *arguments);
    peer.Stop();
    PrintCounts(peer, *arguments);
    return 0;
}
