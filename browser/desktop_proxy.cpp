#include "desktop_proxy.h"

#include <algorithm>

#include "connection_options.h"
#include "text_number.h"

std::vector<std::string> SplitBypassList(std::string_view bypass) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bypass.size(); ++i) {
        if (i == bypass.size() || bypass[i] == ';' || bypass[i] == ',' || bypass[i] == ' ' ||
            bypass[i] == '\t' || bypass[i] == '\r' || bypass[i] == '\n') {
            if (i > start) {
                entries.emplace_back(bypass.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return entries;
}

DesktopProxy DesktopProxyFor(const ConnectionRecord& record) {
    DesktopProxy proxy;
    proxy.manual = (record.flags & kProxyTypeProxy) != 0;
    std::string_view server = record.proxyServer;
    std::size_t colon = server.find(':');
    if (colon != std::string_view::npos) {
        proxy.host = server.substr(0, colon);
        server.remove_prefix(colon + 1);
    }
    int port = AtoiText(server);
    // Desktops refuse ports outside this range; 0 tells them there is none.
    proxy.port = port >= 1 && port <= 65535 ? port : 0;
    proxy.ignoreHosts = SplitBypassList(record.proxyBypass);
    for (const std::string& loopback : kLoopbackHosts) {
        if (std::find(proxy.ignoreHosts.begin(), proxy.ignoreHosts.end(), loopback) ==
            proxy.ignoreHosts.end()) {
            proxy.ignoreHosts.push_back(loopback);
        }
    }
    return proxy;
}

DesktopProxy PointingProxy(std::string_view proxyServer) {
    return DesktopProxyFor(PointingRecord(std::string(proxyServer).c_str()));
}
