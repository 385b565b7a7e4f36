#include <utility>

#include "download_text.h"
#include "downloaded_text.h"
#include "wininet_request_win32.h"

std::string DownloadTextWithin(const std::string& url, TransferLimits limits,
                               std::stop_token stop) {
    wininet::HttpGet get;
    if (!wininet::OpenHttpGet(url, nullptr, limits, get)) {
        return {};
    }
    const wininet::Watchdog watchdog(get, limits.total, std::move(stop));
    DownloadedText text;
    const bool whole = wininet::SendForSuccess(get) &&
                       wininet::ReadBody(get, 4096, [&text](std::string_view bytes) {
                           return text.Append(bytes.data(), bytes.size());
                       });
    if (!whole || watchdog.Fired()) {
        return {};
    }
    PrintDownloadDiagnostic(text.Text());
    return text.Take();
}
