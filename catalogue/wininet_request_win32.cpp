#include "wininet_request_win32.h"

#include "application_name.h"
#include "http_url.h"

namespace wininet {

bool OpenHttpGet(const std::string& url, const std::string* proxy, HttpGet& get) {
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
    if (get.root.Get() == nullptr) {
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
    return get.request.Get() != nullptr;
}

}  // namespace wininet
