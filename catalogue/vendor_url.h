// Addresses on the vendor's web server. The server's base URL is fixed when
// the program is built and may be replaced at run time through the
// environment variable QUILLON_VENDOR_URL (e.g. "http://127.0.0.1:18081"),
// which is how tests and demos serve the vendor's files on loopback.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kProxyListUrlPath = "/licensing/ProxyGenerator/proxylist.txt";
inline constexpr std::string_view kProxyGeneratorUrlPath = "/licensing/ProxyGenerator/ProxyGen.asp";
inline constexpr std::string_view kTestImageUrlPath = "/images/quillonimg.jpg";
// Answers a GET with the address it came from and the request's header lines
// (vendor/README.md): what the list check grades proxies by.
inline constexpr std::string_view kJudgeUrlPath = "/licensing/ProxyGenerator/judge";

inline constexpr const char* kVendorUrlVariable = "QUILLON_VENDOR_URL";

// The base URL without a trailing "/", followed by the path.
std::string VendorUrl(std::string_view path);
