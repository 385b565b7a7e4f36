#include <utility>

#include "proxy_probe.h"
#include "tick_count.h"
#include "vendor_url.h"
#include "wininet_request_win32.h"

double MeasureDownloadSpeed(const std::string& host, int port, ProbeDeadline deadline,
                            std::stop_token stop) {
    std::optional<std::string> proxy = ProxyText(host, port);
    const std::chrono::milliseconds left = TimeLeft(deadline);
    if (!proxy || host.empty() || left.count() == 0) {
        return 0.0;
    }
    wininet::HttpGet get;
    if (!wininet::OpenHttpGet(VendorUrl(kTestImageUrlPath), &*proxy, {left, left}, get)) {
        return 0.0;
    }
    const wininet::Watchdog watchdog(get, left, std::move(stop));
    if (!wininet::SendForSuccess(get)) {
        return 0.0;
    }
    const std::uint32_t t0 = TickCount();
    TestImageRead image;
    const bool whole = wininet::ReadBody(get, kMeasuredBytes, [&image](std::string_view bytes) {
        image.Add(bytes);
        return true;
    });
    if (!whole || watchdog.Fired() || !image.Whole()) {
        return 0.0;
    }
    return DownloadSpeedFigure(t0, image.FirstTick());
}
