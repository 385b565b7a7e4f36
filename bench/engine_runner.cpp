// Runs the proxy engine as a process of its own, so that the benchmark can
// put it side by side with the other relays and watch its memory.
//
//   engine_runner LOCAL_PORT UPSTREAM_HOST:UPSTREAM_PORT [--filter]
//
// --filter switches every content filter rule on (scripts, objects, pop-ups).
// Prints "ready PORT" once the engine listens (LOCAL_PORT 0 picks a free
// port), then runs until SIGTERM or SIGINT, or until its standard input ends
// when that is a pipe (the parent holding the other end went away).
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <thread>

#include "bench_util.h"
#include "fake_filter_switches.h"
#include "html_response_filter.h"
#include "proxy_server.h"

namespace {

constexpr auto kListenWait = std::chrono::seconds(5);

int Usage() {
    std::fprintf(stderr,
                 "usage: engine_runner LOCAL_PORT UPSTREAM_HOST:UPSTREAM_PORT [--filter]\n");
    return 2;
}

bool StdinIsPipe() {
    struct stat st {};
    return ::fstat(STDIN_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

// Blocks until a stop signal arrives or a watched stdin reaches its end.
void WaitForStop(int signalFd) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {StdinIsPipe() ? STDIN_FILENO : -1, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents != 0) {
            char discard[256];
            if (::read(STDIN_FILENO, discard, sizeof discard) <= 0) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool filter = argc == 4 && std::string_view(argv[3]) == "--filter";
    if (argc != 3 && !filter) {
        return Usage();
    }
    auto localPort = bench::ParsePort(argv[1]);
    auto upstream = bench::ParseHostPort(argv[2]);
    if (!localPort || !upstream) {
        return Usage();
    }

    // Blocked before the engine starts any thread, so that every thread
    // inherits the mask and the signals are only ever taken from the fd.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("engine_runner: signalfd");
        return 1;
    }

    // The switches live in memory: the bench never touches the user's settings.
    FakeFilterSwitches switches(1, 1, 1);
    CProxyServer server;
    if (filter) {
        server.SetFilterFactory(
            std::make_shared<HtmlFilterFactory>(switches.Live(), std::make_shared<PopupCounter>()));
    }
    if (!server.Start(*localPort, 1, upstream->host, upstream->port, "", "")) {
        std::fprintf(stderr, "engine_runner: the listener could not be started\n");
        return 1;
    }
    // Start does not wait for the bind; a port in use shows as never running.
    auto deadline = std::chrono::steady_clock::now() + kListenWait;
    while (server.IsRunning() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (server.IsRunning() == 0) {
        std::fprintf(stderr, "engine_runner: not listening on 127.0.0.1:%d\n", *localPort);
        return 1;
    }
    std::printf("ready %d\n", server.ListeningPort());
    std::fflush(stdout);

    WaitForStop(signalFd);
    server.Stop();
    // Relays still open are cut by the process exit; nothing else owns them.
    return 0;
}
