#include "curl_transfer_linux.h"
#include "proxy_probe.h"
#include "tick_count.h"
#include "vendor_url.h"

namespace {

// Times the first read of the body, from the end of the response head.
struct FirstRead {
    std::uint32_t headEnd = 0;
    std::uint32_t firstData = 0;
    std::size_t bytes = 0;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    const std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
        static_cast<FirstRead*>(user)->headEnd = TickCount();
    }
    return size * count;
}

size_t OnBody(char*, size_t size, size_t count, void* user) {
    auto* read = static_cast<FirstRead*>(user);
    read->firstData = TickCount();
    read->bytes = size * count;
    // One read is all the figure needs; returning 0 ends the transfer here.
    return 0;
}

}  // namespace

double MeasureDownloadSpeed(const std::string& host, int port) {
    std::optional<std::string> proxy = ProxyText(host, port);
    if (!proxy || host.empty()) {
        return 0.0;
    }
    curl::Easy easy = curl::NewGet(VendorUrl(kTestImageUrlPath), "http://" + *proxy);
    if (!easy) {
        return 0.0;
    }
    FirstRead read;
    CURL* e = easy.get();
    if (curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kMeasuredBytes)) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &read) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &read) != CURLE_OK) {
        return 0.0;
    }
    curl::Perform(e);  // ends with a write error after the first read
    if (read.bytes == 0) {
        return 0.0;
    }
    return DownloadSpeedFigure(read.headEnd, read.firstData);
}
