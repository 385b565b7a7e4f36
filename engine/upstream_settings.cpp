#include "upstream_settings.h"

#include <cstdint>

UpstreamSettings MakeUpstreamSettings(int useProxy, std::string proxyHost, int proxyPort,
                                      std::string userName, std::string password) {
    UpstreamSettings s;
    s.useProxy = useProxy;
    s.proxyHost = std::move(proxyHost);
    s.proxyPort = proxyPort;
    s.userName = std::move(userName);
    s.password = std::move(password);
    if (useProxy != 0 && !s.userName.empty()) {
        s.authenticationFlag = 1;
        s.authenticationLine =
            "Proxy-Authorization: Basic " + EncodeBase64(s.userName + ":" + s.password) + "\r\n";
    }
    return s;
}

std::string EncodeBase64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                          static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                          static_cast<std::uint8_t>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2) {
            v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        }
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}
