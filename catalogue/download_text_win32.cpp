#include <array>
#include <cstdint>

#include "download_text.h"
#include "downloaded_text.h"
#include "wininet_request_win32.h"

std::string DownloadText(const std::string& url, std::stop_token stop) {
    wininet::HttpGet get;
    if (!wininet::OpenHttpGet(url, nullptr, get)) {
        return {};
    }
    // Closing the handles makes a send or read blocked on them return.
    std::stop_callback cancel(stop, [&get] { get.Close(); });
    if (stop.stop_requested() || !::HttpSendRequestA(get.request.Get(), nullptr, 0, nullptr, 0)) {
        return {};
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoA(get.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                          &status, &size, nullptr) ||
        status < 200 || status > 299) {
        return {};
    }
    // A connection closed before the announced length is a failed download,
    // not a shorter list: WinINet reports such an end like any other.
    DWORD announced = 0;
    size = sizeof announced;
    const bool lengthKnown =
        ::HttpQueryInfoA(get.request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                         &announced, &size, nullptr) != FALSE;
    std::uint64_t received = 0;
    DownloadedText text;
    std::array<char, 4096> block;
    for (;;) {
        DWORD read = 0;
        if (!::InternetReadFile(get.request.Get(), block.data(), block.size(), &read)) {
            return {};
        }
        if (read == 0) {
            break;
        }
        received += read;
        if (!text.Append(block.data(), read)) {
            return {};
        }
    }
    if (stop.stop_requested() || (lengthKnown && received < announced)) {
        return {};
    }
    PrintDownloadDiagnostic(text.Text());
    return text.Take();
}
