#include "upstream_failure.h"

namespace {

// The endpoint is the user's own text, from the list or typed: never markup.
std::string EscapeHtml(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string_view WhatHappened(UpstreamFailure failure) {
    switch (failure) {
        case UpstreamFailure::kUnresolved:
            return "its name could not be resolved to an address";
        case UpstreamFailure::kRefused:
            return "the connection was refused: nothing answers there";
        case UpstreamFailure::kTimedOut:
            return "it did not answer within 10 seconds";
        case UpstreamFailure::kSelf:
            return "it is Quillon itself, which cannot relay to itself";
    }
    return "";
}

}  // namespace

std::string UpstreamFailureResponse(UpstreamFailure failure, std::string_view upstream,
                                    bool viaProxy, bool tunnel) {
    const std::string status =
        failure == UpstreamFailure::kTimedOut ? "504 Gateway Timeout" : "502 Bad Gateway";
    if (tunnel) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    const std::string what = viaProxy ? "proxy server" : "web server";
    const std::string name = EscapeHtml(upstream);
    std::string body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quillon: the " + what +
        " cannot be reached</title></head>\n<body style=\"font-family: sans-serif; max-width: "
        "40em; margin: 3em auto\">\n<h1>The " +
        what + " cannot be reached</h1>\n<p>Quillon could not connect to the " + what + " <b>" +
        name + "</b>: " + std::string(WhatHappened(failure)) +
        ".</p>\n<p>Nothing was sent to the web site.</p>\n";
    if (viaProxy) {
        body +=
            "<p>Public proxies come and go. To browse on, choose another proxy: open "
            "Quillon's configuration (\"Configuration\" in the menu of its tray icon), pick a "
            "proxy from the list on the Settings page, and press \"Save Settings\".</p>\n";
    }
    body += "<p><small>" + status + "</small></p>\n</body></html>\n";
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

bool IsOwnListener(std::uint32_t address, std::uint16_t port, std::uint32_t listenerAddress,
                   std::uint16_t listenerPort) {
    // 0.0.0.0 is "this host": a connect to it arrives on loopback.
    return port == listenerPort && (address == listenerAddress || address == 0);
}
