// The proxy the browser would use for a URL, as the desktop resolves it
// (GIO's proxy resolver: GNOME's settings, libproxy elsewhere). It sees what
// this program set as well as what the user set.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kDirectProxy = "direct://";

// "direct://" for no proxy at all, otherwise a proxy URI such as
// "http://127.0.0.1:8080"; empty when the lookup failed.
std::string ProxyForUrl(const std::string& url);
