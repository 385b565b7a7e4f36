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
#include "upstream_failover.h"

namespace {
// A browser opens many connections at once; when the queue is full the rest
// of a burst has its SYNs dropped and waits a second or more for the retry.
// The system caps this at its own limit (somaxconn on Linux).
constexpr int kBacklog = 4096;
enum RunState { kListening, kStopped };
}  // namespace

// Everything one listener thread works on. Each Start on a new port gets a
// fresh one, so an old listener that is still leaving can never act on the
// state of a new one.
struct CProxyServer::ListenerRun {
    net::SocketLibrary library;  // outlives the socket below
    std::atomic<int> state{kListening};
    std::atomic<net::SocketHandle> socket{net::kNoSocket};
    net::Endpoint endpoint;  // where it listens
    // Whether the listener thread has finished. A mutex and condition rather
    // than atomic wait: libstdc++ 12 can lose that wake-up off Linux.
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool ended = false;
    // Its upstream, replaced when the upstream changes while listening;
    // each connection keeps the one current when it was accepted.
    std::shared_ptr<UpstreamRoute> route;
};

CProxyServer::~CProxyServer() {
    Stop();
}

bool CProxyServer::Start(int localPort, int useProxy, const std::string& proxyHost, int proxyPort,
                         const std::string& userName, const std::string& password) {
    const auto port = static_cast<std::uint16_t>(localPort);
    const auto contextFor = [&](const ListenerRun& run) {
        return std::make_shared<const ConnectionContext>(ConnectionContext{
            MakeUpstreamSettings(useProxy, proxyHost, proxyPort, userName, password),
            m_filterFactory, run.endpoint, run.route});
    };
    if (IsRunning() != 0 && (port == 0 || port == m_run->endpoint.port)) {
        // Keeping the socket means no moment in which the port is free for
        // another program, or refuses the browser.
        m_run->route->Set(contextFor(*m_run));
        return true;
    }
    Stop();
    auto run = std::make_shared<ListenerRun>();
    if (!run->library.Started()) {
        return false;
    }
    net::Socket listening(net::OpenTcp());
    // Loopback only: a relay open to the network would let anyone use the
    // user's machine and upstream proxy. A port that another program holds
    // fails here, before the browser could be pointed at it.
    if (!listening.Valid() || !net::BindIPv4(listening.Get(), net::kLoopbackAddress, port) ||
        !net::Listen(listening.Get(), kBacklog)) {
        return false;
    }
    run->endpoint = {net::kLoopbackAddress, net::LocalPort(listening.Get())};
    run->route = std::make_shared<UpstreamRoute>(m_failover);
    run->route->Set(contextFor(*run));
    run->socket.store(listening.Release());
    if (!engine::StartDetached([run] { ListenThread(run); })) {
        net::CloseOnce(run->socket);
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
    return IsRunning() ? m_run->endpoint.port : 0;
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
        engine::StartDetached(
            [browser = std::move(accepted), context = run->route->Current()]() mutable {
                RequestThread(std::move(browser), std::move(context));
            });
    }
    net::CloseOnce(run->socket);
}
