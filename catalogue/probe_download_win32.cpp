#include <array>

#include "proxy_probe.h"
#include "tick_count.h"
#include "vendor_url.h"
#include "wininet_request_win32.h"

double MeasureDownloadSpeed(const std::string& host, int port) {
    std::optional<std::string> proxy = ProxyText(host, port);
    if (!proxy || host.empty()) {
        return 0.0;
    }
    wininet::HttpGet get;
    if (!wininet::OpenHttpGet(VendorUrl(kTestImageUrlPath), &*proxy, get) ||
        !::HttpSendRequestA(get.request.Get(), nullptr, 0, nullptr, 0)) {
        return 0.0;
    }
    const std::uint32_t t0 = TickCount();
    std::array<char, kMeasuredBytes> block;
    DWORD read = 0;
    if (!::InternetReadFile(get.request.Get(), block.data(), block.size(), &read) || read == 0) {
        return 0.0;
    }
    return DownloadSpeedFigure(t0, TickCount());
}
