// One HTTP GET through the proxy the browser would use for the URL, agent
// name = the application's name, HTTP/1.0.
#pragma once

#include <chrono>
#include <stop_token>
#include <string>
#include <utility>

#include "transfer_limits.h"

// A vendor that trickles or never answers must not hold the list (or the
// generator request) for longer than this.
inline constexpr TransferLimits kDownloadLimits{std::chrono::seconds(15), std::chrono::seconds(60)};

// DownloadText with limits of the caller's (tests give short ones).
std::string DownloadTextWithin(const std::string& url, TransferLimits limits, std::stop_token stop);

// The body as lines ended by CR LF (see DownloadedText), or the empty text
// when the download failed: no connection, a read error, a status other than
// 2xx (an error page is no content), or kDownloadLimits passed. Writes the
// diagnostic line after a successful download. A stop request ends a running
// download at once, as a failure.
inline std::string DownloadText(const std::string& url, std::stop_token stop = {}) {
    return DownloadTextWithin(url, kDownloadLimits, std::move(stop));
}
