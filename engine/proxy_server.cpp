#include "proxy_server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "request_thread.h"
#include "socket_shim.h"
#include "thread_start.h"

namespace {
// A browser opens many connections at once; when the queue is full the rest
// of a burst has its SYNs dropped and waits a second or more for the retry.
// The system caps this at its own limit (somaxconn on Linux).
constexpr int kBacklog = 4096;
enum RunState { kStarting, kListening, kStopped };
}  // namespace

// Everything one listener thread works on. Each Start gets a fresh one, so an
// old listener that is still leaving can never act on the state of a new one.
struct CProxyServer::ListenerRun {
    std::atomic<int> state{kStarting};
    std::atomic<net::SocketHandle> socket{net::kNoSocket};
    std::atomic<int> port{0};  // bound port, once listening
    // Whether the listener thread has finished. A mutex and condition rather
    // than atomic wait: libstdc++ 12 can lose that wake-up off Linux.
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool ended = false;
    std::uint16_t localPort = 0;
    std::shared_ptr<const ConnectionContext> context;
};

CProxyServer::~CProxyServer() {
    Stop();
}

bool CProxyServer::Start(int localPort, int useProxy, const std::string& proxyHost, int proxyPort,
                         const std::string& userName, const std::string& password) {
    Stop();
    auto run = std::make_shared<ListenerRun>();
    run->localPort = static_cast<std::uint16_t>(localPort);
    run->context = std::make_shared<const ConnectionContext>(ConnectionContext{
        MakeUpstreamSettings(useProxy, proxyHost, proxyPort, userName, password), m_filterFactory});
    if (!engine::StartDetached([run] { ListenThread(run); })) {
        return false;
    }
    m_run = std::move(run);
    return true;
}

void CProxyServer::Stop() {
    if (!m_run) {
        return;
    }
    std::shared_ptr<ListenerRun> run = std::move(m_run);
    run->state.store(kStopped);
    net::InterruptAccept(run->socket);
    // The listener leaves accept at once; waiting for it means a following
    // Start never shares the port or the socket with it.
    std::unique_lock<std::mutex> lock(run->endMutex);
    run->endSignal.wait(lock, [&] { return run->ended; });
    lock.unlock();
    net::CloseOnce(run->socket);
}

int CProxyServer::IsRunning() const {
    return m_run && m_run->state.load() == kListening ? 1 : 0;
}

int CProxyServer::ListeningPort() const {
    return IsRunning() ? m_run->port.load() : 0;
}

void CProxyServer::ListenThread(const std::shared_ptr<ListenerRun>& run) {
    struct EndMark {
        ListenerRun& run;
        ~EndMark() {
            std::lock_guard<std::mutex> lock(run.endMutex);
            run.ended = true;
            run.endSignal.notify_all();
        }
    } endMark{*run};

    net::SocketLibrary library;
    if (!library.Started()) {
        return;
    }

    net::SocketHandle listening = net::OpenTcp();
    if (listening == net::kNoSocket) {
        return;
    }
    run->socket.store(listening);
    // Loopback only: a relay open to the network would let anyone use the
    // user's machine and upstream proxy.
    if (!net::BindIPv4(listening, net::kLoopbackAddress, run->localPort) ||
        !net::Listen(listening, kBacklog)) {
        return;  // the socket stays recorded until Stop closes it
    }
    run->port.store(net::LocalPort(listening));
    int expected = kStarting;
    if (!run->state.compare_exchange_strong(expected, kListening)) {
        net::CloseOnce(run->socket);  // stopped while setting up
        return;
    }

    while (run->state.load() == kListening) {
        net::SocketHandle current = run->socket.load();
        if (current == net::kNoSocket) {
            break;
        }
        net::Socket accepted(net::Accept(current));
        if (run->state.load() != kListening) {
            break;
        }
        if (!accepted.Valid()) {
            // Out of descriptors and the like: do not spin on the error.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        engine::StartDetached([browser = std::move(accepted), context = run->context]() mutable {
            RequestThread(std::move(browser), std::move(context));
        });
    }
    net::CloseOnce(run->socket);
}
