#pragma once

#include <string>
#include <string_view>

// Where and how request workers reach the upstream side. Built by
// CProxyServer::Start and never changed afterwards: every connection keeps the
// copy that was current when it was accepted.
struct UpstreamSettings {
    int useProxy = 0;  // non-zero: every connection goes to the proxy below
    std::string proxyHost;
    int proxyPort = 0;  // its low 16 bits are used
    std::string userName;
    std::string password;
    int authenticationFlag = 0;      // 1: authenticationLine is added to rebuilt heads
    std::string authenticationLine;  // "Proxy-Authorization: Basic ...\r\n"
};

UpstreamSettings MakeUpstreamSettings(int useProxy, std::string proxyHost, int proxyPort,
                                      std::string userName, std::string password);

// RFC 4648 base64 with padding, on one line.
std::string EncodeBase64(std::string_view bytes);
