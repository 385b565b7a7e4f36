#include "curl_transfer_linux.h"

#include <algorithm>

#include "application_name.h"

namespace curl {

namespace {

struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Multi = std::unique_ptr<CURLM, MultiCleanup>;

// libcurl's global set-up, once for the process, before the first handle.
class Library {
public:
    Library() : m_ok(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~Library() {
        if (m_ok) {
            curl_global_cleanup();
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

bool LibraryReady() {
    static Library library;
    return library.Ok();
}

// libcurl takes 0 for "no limit": a limit already used up is a millisecond.
long Milliseconds(std::chrono::milliseconds limit) {
    return static_cast<long>(std::max<std::chrono::milliseconds::rep>(limit.count(), 1));
}

}  // namespace

Easy NewGet(const std::string& url, const std::string& proxy, TransferLimits limits) {
    if (!LibraryReady()) {
        return nullptr;
    }
    Easy easy(curl_easy_init());
    if (!easy) {
        return nullptr;
    }
    const std::string agent = ApplicationName();
    CURL* e = easy.get();
    bool ok =
        curl_easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_NOPROXY, "") == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(limits.connect)) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, Milliseconds(limits.total)) == CURLE_OK;
    return ok ? std::move(easy) : nullptr;
}

CURLcode Perform(CURL* easy, std::stop_token stop) {
    if (!stop.stop_possible()) {
        return curl_easy_perform(easy);
    }
    Multi multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    {
        // Wakes the poll below the moment a stop is requested.
        std::stop_callback wake(stop, [&multi] { curl_multi_wakeup(multi.get()); });
        while (!stop.stop_requested()) {
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int left = 0;
                CURLMsg* message = curl_multi_info_read(multi.get(), &left);
                result = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                            : CURLE_RECV_ERROR;
                break;
            }
            if (curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
        }
    }
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

bool SuccessStatus(CURL* easy) {
    long status = 0;
    return curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200 &&
           status <= 299;
}

}  // namespace curl
