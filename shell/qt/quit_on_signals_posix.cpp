#include "quit_on_signals_posix.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <csignal>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Written by the handler, read on the interface thread.
int g_pipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        return;  // the default actions stay: the process just ends
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        m_signalled = true;
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : kSignals) {
        ::sigaction(s, &action, nullptr);
    }
}

QuitOnSignals::~QuitOnSignals() {
    if (!m_notifier) {
        return;
    }
    for (const int s : kSignals) {
        std::signal(s, SIG_DFL);
    }
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
