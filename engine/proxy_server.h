#pragma once

#include <memory>
#include <string>

#include "connection_filter.h"

class IUpstreamFailover;

// The local proxy engine: a listener on 127.0.0.1 that hands every browser
// connection to a request worker, which relays it to the upstream side.
class CProxyServer {
public:
    CProxyServer() = default;
    ~CProxyServer();
    CProxyServer(const CProxyServer&) = delete;
    CProxyServer& operator=(const CProxyServer&) = delete;

    // Listens on 127.0.0.1:localPort and starts the listener thread; false
    // when the port cannot be bound (another program holds it) or no thread
    // can be made, and then nothing listens. A listener already running on
    // the same port is kept and only its upstream changes, so that the port
    // is never let go in between; one on another port is stopped first.
    bool Start(int localPort, int useProxy, const std::string& proxyHost, int proxyPort,
               const std::string& userName, const std::string& password);
    // Ends the listener; connections already accepted keep relaying. When it
    // returns the old listener has let go of its socket.
    void Stop();
    // 1 from a successful Start until Stop.
    int IsRunning() const;
    // The port actually listened on (useful after Start with port 0); 0 when
    // not listening.
    int ListeningPort() const;

    // Gives each connection accepted after the next Start a filter of its
    // own (or none, as the factory decides).
    void SetFilterFactory(std::shared_ptr<IConnectionFilterFactory> factory) {
        m_filterFactory = std::move(factory);
    }
    // Asked for another proxy when the one in use stops answering (several
    // failed connects in a short while); from the next Start on that
    // listens anew. None: the browser is told of each failure.
    void SetFailover(std::shared_ptr<IUpstreamFailover> failover) {
        m_failover = std::move(failover);
    }

private:
    struct ListenerRun;
    static void ListenThread(const std::shared_ptr<ListenerRun>& run);

    std::shared_ptr<ListenerRun> m_run;  // the current run; empty when idle
    std::shared_ptr<IConnectionFilterFactory> m_filterFactory;
    std::shared_ptr<IUpstreamFailover> m_failover;
};
