// WinINet owners and the one request set-up that every download of the
// catalogue shares: InternetOpenA, InternetConnectA, HttpOpenRequestA.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <string>

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
// False when any step fails; what was opened is closed with `get`.
bool OpenHttpGet(const std::string& url, const std::string* proxy, HttpGet& get);

}  // namespace wininet
