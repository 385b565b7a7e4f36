// The connection options as a desktop's proxy settings take them: a manual
// proxy for http and https with a list of hosts that go direct.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "connection_record.h"

struct DesktopProxy {
    bool manual = false;  // false: direct access
    std::string host;
    int port = 0;  // 0 when the text gives no usable port
    std::vector<std::string> ignoreHosts;
};

// WinINet never sends loopback to a proxy; desktops do unless told, so these
// always go direct as well.
inline const std::vector<std::string> kLoopbackHosts = {"localhost", "127.0.0.0/8", "::1"};

// Host and port as everywhere in the program: the host is the text before
// the first ':', the port is read like atoi from the text after it.
DesktopProxy DesktopProxyFor(const ConnectionRecord& record);

// What the program sets on the desktops to point them at proxyServer.
DesktopProxy PointingProxy(std::string_view proxyServer);

// The entries of a WinINet bypass list (separated by ';', also ',' or blanks).
std::vector<std::string> SplitBypassList(std::string_view bypass);
