// WinINet owners and the one request set-up that every download of the
// catalogue shares: InternetOpenA, InternetConnectA, HttpOpenRequestA.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "transfer_limits.h"

namespace wininet {

struct HandleCloser {
    void operator()(HINTERNET handle) const { ::InternetCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// A handle that another thread may close to cancel what blocks on it;
// whoever comes first closes it, once.
class SharedHandle {
public:
    SharedHandle() = default;
    SharedHandle(const SharedHandle&) = delete;
    SharedHandle& operator=(const SharedHandle&) = delete;
    ~SharedHandle() { Close(); }
    void Reset(HINTERNET handle) {
        Close();
        m_handle.store(handle);
    }
    HINTERNET Get() const { return m_handle.load(); }
    void Close() {
        if (HINTERNET handle = m_handle.exchange(nullptr)) {
            ::InternetCloseHandle(handle);
        }
    }

private:
    std::atomic<HINTERNET> m_handle{nullptr};
};

// The three handles of one GET, closed innermost first.
struct HttpGet {
    SharedHandle root;
    SharedHandle connection;
    SharedHandle request;
    // Cancels whatever blocks on the three, from any thread.
    void Close() {
        request.Close();
        connection.Close();
        root.Close();
    }
};

// Opens a GET of the URL, HTTP/1.0, keep-connection, agent name = the
// application's name. Without a proxy it follows the browser's proxy
// configuration; with one ("host:port") it goes through that proxy only.
// WinINet's own time-outs are set to the limits: the receive one bounds a
// silent server also where closing the handles does not end a call in
// progress (Wine, which ignores the connect time-out too). False when any
// step fails; what was opened is closed with `get`.
bool OpenHttpGet(const std::string& url, const std::string* proxy, TransferLimits limits,
                 HttpGet& get);

// Closes the GET's handles from a thread of its own once the time is up or a
// stop is requested, which ends a call blocked on them (under Wine, fails
// the next call): WinINet's time-outs bound each wait, not a server that
// trickles. Give it up (destroy it) before `get`.
class Watchdog {
public:
    Watchdog(HttpGet& get, std::chrono::milliseconds limit, std::stop_token stop);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // Whether it has closed the handles: what was read may then be cut short.
    bool Fired() const { return m_fired.load(); }

private:
    struct Wake {
        Watchdog* watchdog;
        void operator()() const { watchdog->End(false); }
    };
    // Ends the wait: given up (dismissed), or stopped.
    void End(bool dismissed);

    // Flags under a mutex, not condition_variable_any's wait on a stop
    // token: GCC 12's can miss a stop that comes just before it sleeps.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;    // under m_mutex
    bool m_dismissed = false;  // under m_mutex
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
    std::stop_callback<Wake> m_onStop;  // last: it may end the wait at once
};

// Sends the request; true when the answer has a 2xx status.
bool SendForSuccess(const HttpGet& get);

// Reads the body, handing each piece of at most `most` bytes to `take` as it
// arrives (false from it ends the read as a failure). True when the body
// came whole: to the end of the stream, and to its Content-Length where the
// answer gave one.
bool ReadBody(const HttpGet& get, std::size_t most,
              const std::function<bool(std::string_view)>& take);

}  // namespace wininet
