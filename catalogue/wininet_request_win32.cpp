#include "wininet_request_win32.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "application_name.h"
#include "http_url.h"

namespace wininet {

namespace {

DWORD Milliseconds(std::chrono::milliseconds limit) {
    return static_cast<DWORD>(
        std::clamp<std::chrono::milliseconds::rep>(limit.count(), 1, MAXDWORD));
}

bool SetTimeOut(HINTERNET handle, DWORD option, std::chrono::milliseconds limit) {
    DWORD milliseconds = Milliseconds(limit);
    return ::InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds) != FALSE;
}

}  // namespace

bool OpenHttpGet(const std::string& url, const std::string* proxy, TransferLimits limits,
                 HttpGet& get) {
    std::optional<HttpUrl> parts = SplitHttpUrl(url);
    if (!parts) {
        return false;
    }
    const std::string agent = ApplicationName();
    // A proxy of our own is given to the session before anything is opened
    // on it, so that nothing of this GET can take the browser's route.
    get.root.Reset(
        proxy != nullptr
            ? ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy->c_str(), nullptr, 0)
            : ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    // The connect time-out is the session's; Wine takes the send and
    // receive ones from the request alone.
    if (get.root.Get() == nullptr ||
        !SetTimeOut(get.root.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, limits.connect)) {
        return false;
    }
    const DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | (parts->secure ? INTERNET_FLAG_SECURE : 0);
    get.connection.Reset(
        ::InternetConnectA(get.root.Get(), parts->host.c_str(),
                           parts->port != 0 ? parts->port : INTERNET_INVALID_PORT_NUMBER, nullptr,
                           nullptr, INTERNET_SERVICE_HTTP, INTERNET_FLAG_KEEP_CONNECTION, 0));
    if (get.connection.Get() == nullptr) {
        return false;
    }
    get.request.Reset(::HttpOpenRequestA(get.connection.Get(), "GET", parts->path.c_str(),
                                         "HTTP/1.0", nullptr, nullptr, flags, 0));
    return get.request.Get() != nullptr &&
           SetTimeOut(get.request.Get(), INTERNET_OPTION_SEND_TIMEOUT, limits.total) &&
           SetTimeOut(get.request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.total);
}

Watchdog::Watchdog(HttpGet& get, std::chrono::milliseconds limit, std::stop_token stop)
    : m_thread([this, &get, deadline = std::chrono::steady_clock::now() + limit] {
          std::unique_lock lock(m_mutex);
          m_wake.wait_until(lock, deadline, [this] { return m_stopped || m_dismissed; });
          if (!m_dismissed) {
              m_fired = true;
              lock.unlock();
              get.Close();
          }
      }),
      m_onStop(std::move(stop), Wake{this}) {}

Watchdog::~Watchdog() {
    End(true);
    m_thread.join();
}

void Watchdog::End(bool dismissed) {
    {
        std::lock_guard lock(m_mutex);
        (dismissed ? m_dismissed : m_stopped) = true;
    }
    m_wake.notify_one();
}

bool SendForSuccess(const HttpGet& get) {
    DWORD status = 0;
    DWORD size = sizeof status;
    return ::HttpSendRequestA(get.request.Get(), nullptr, 0, nullptr, 0) &&
           ::HttpQueryInfoA(get.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &status, &size, nullptr) &&
           status >= 200 && status <= 299;
}

bool ReadBody(const HttpGet& get, std::size_t most,
              const std::function<bool(std::string_view)>& take) {
    // A connection closed before the announced length is a body cut short:
    // WinINet reports such an end like any other.
    DWORD announced = 0;
    DWORD size = sizeof announced;
    const bool lengthKnown =
        ::HttpQueryInfoA(get.request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                         &announced, &size, nullptr) != FALSE;
    std::uint64_t received = 0;
    std::vector<char> block(most);
    for (;;) {
        // Waits for some bytes, then reads only those: a read of a whole
        // block would wait on a trickle past the watchdog.
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(get.request.Get(), &available, 0, 0)) {
            return false;
        }
        DWORD read = 0;
        const DWORD wanted =
            static_cast<DWORD>(std::min<std::size_t>(std::max<DWORD>(available, 1), block.size()));
        if (!::InternetReadFile(get.request.Get(), block.data(), wanted, &read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        received += read;
        if (!take(std::string_view(block.data(), read))) {
            return false;
        }
    }
    return !lengthKnown || received >= announced;
}

}  // namespace wininet
