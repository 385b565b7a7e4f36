#include "curl_transfer_linux.h"
#include "download_text.h"
#include "downloaded_text.h"
#include "proxy_resolver.h"

#include <utility>

namespace {

size_t Collect(char* data, size_t size, size_t count, void* user) {
    auto* text = static_cast<DownloadedText*>(user);
    // Returning less than given ends the transfer as a failure.
    return text->Append(data, size * count) ? size * count : 0;
}

}  // namespace

std::string DownloadTextWithin(const std::string& url, TransferLimits limits,
                               std::stop_token stop) {
    std::string proxy = ProxyForUrl(url);
    if (proxy.empty()) {
        // The route is unknown: going direct could bypass the anonymous proxy.
        return {};
    }
    if (proxy == kDirectProxy) {
        proxy.clear();
    }
    curl::Easy easy = curl::NewGet(url, proxy, limits);
    if (!easy) {
        return {};
    }
    DownloadedText text;
    if (curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, Collect) != CURLE_OK ||
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &text) != CURLE_OK) {
        return {};
    }
    if (curl::Perform(easy.get(), std::move(stop)) != CURLE_OK ||
        !curl::SuccessStatus(easy.get())) {
        return {};
    }
    PrintDownloadDiagnostic(text.Text());
    return text.Take();
}
