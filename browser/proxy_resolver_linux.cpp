#include "proxy_resolver.h"

#include "glib_handles_linux.h"

std::string ProxyForUrl(const std::string& url) {
    GProxyResolver* resolver = g_proxy_resolver_get_default();  // owned by GIO
    if (resolver == nullptr) {
        return {};
    }
    GError* raw = nullptr;
    glib::Strv proxies(g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &raw));
    glib::Error error(raw);
    if (!proxies || proxies.get()[0] == nullptr) {
        return {};
    }
    // The first is the one to use; the rest are fall-backs.
    return proxies.get()[0];
}
