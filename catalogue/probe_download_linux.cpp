#include <utility>

#include "curl_transfer_linux.h"
#include "proxy_probe.h"
#include "tick_count.h"
#include "vendor_url.h"

namespace {

// The image, and the end of the response head its first read is timed from.
struct ImageRead {
    std::uint32_t headEnd = 0;
    TestImageRead image;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    const std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
        static_cast<ImageRead*>(user)->headEnd = TickCount();
    }
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    static_cast<ImageRead*>(user)->image.Add(std::string_view(data, size * count));
    return size * count;
}

}  // namespace

double MeasureDownloadSpeed(const std::string& host, int port, ProbeDeadline deadline,
                            std::stop_token stop) {
    std::optional<std::string> proxy = ProxyText(host, port);
    const std::chrono::milliseconds left = TimeLeft(deadline);
    if (!proxy || host.empty() || left.count() == 0) {
        return 0.0;
    }
    curl::Easy easy = curl::NewGet(VendorUrl(kTestImageUrlPath), "http://" + *proxy, {left, left});
    if (!easy) {
        return 0.0;
    }
    ImageRead read;
    CURL* e = easy.get();
    if (curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kMeasuredBytes)) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &read) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody) != CURLE_OK ||
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &read) != CURLE_OK) {
        return 0.0;
    }
    // libcurl fails a body cut short of its Content-Length.
    if (curl::Perform(e, std::move(stop)) != CURLE_OK || !curl::SuccessStatus(e) ||
        !read.image.Whole()) {
        return 0.0;
    }
    return DownloadSpeedFigure(read.headEnd, read.image.FirstTick());
}
