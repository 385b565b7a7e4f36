#include "proxy_probe.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "proxy_switching.h"
#include "socket_shim.h"
#include "tick_count.h"

namespace {

std::string FormatList(const char* format, std::va_list arguments) {
    std::va_list again;
    va_copy(again, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text;
    if (size > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(size));
    }
    va_end(again);
    return text;
}

// printf into a text of whatever length it takes.
[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = FormatList(format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

std::uint32_t ElapsedTicks(std::uint32_t t0, std::uint32_t t1) {
    const std::uint32_t d = t1 - t0;
    return d == 0 ? 1 : d;
}

double DownloadSpeedFigure(std::uint32_t t0, std::uint32_t t1) {
    return (static_cast<double>(kMeasuredBytes) / 1024.0) /
           static_cast<double>(ElapsedTicks(t0, t1));
}

std::optional<std::string> ProxyText(const std::string& host, int port) {
    std::string text = Format("%s:%d", host.c_str(), port);
    if (text.size() >= kProxyTextBuffer || text.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return text;
}

std::string AvailableText(const std::string& endpoint, int responseTime, double shownSpeed) {
    return Format(
        "Proxy Server %s is Available\r\nResponse Time %d milliseconds \r\nDownload Speed %.02f "
        "KB/sec \r\n",
        endpoint.c_str(), responseTime, shownSpeed);
}

int MeasureResponseTime(const std::string& host, int port) {
    if (host.empty()) {
        return 0;  // nothing to connect to
    }
    net::SocketLibrary library;
    std::optional<std::uint32_t> address = net::ResolveIPv4(host);
    if (!address) {
        return 0;
    }
    net::Socket socket(net::OpenTcp());
    if (!socket.Valid()) {
        return 0;
    }
    // The port goes on the wire as its low 16 bits, as htons takes it.
    const auto wirePort = static_cast<std::uint16_t>(static_cast<std::uint32_t>(port));
    const std::uint32_t t0 = TickCount();
    if (!net::Connect(socket.Get(), *address, wirePort)) {
        return 0;
    }
    const std::uint32_t d = ElapsedTicks(t0, TickCount());
    // A connect that "took" more than 24 days is a clock gone wrong, not a proxy.
    return d > 0x7FFFFFFFu ? 1 : static_cast<int>(d);
}

void TestProxy(const std::string& endpoint, IMessageBox& messages, IProxyProbe& probe,
               const std::function<void()>& onAvailable) {
    const ProxyEndpoint proxy = ParseProxyEndpoint(endpoint);
    messages.Show(kTestingText, "", MessageIcon::None);
    const int responseTime = probe.MeasureResponseTime(proxy.host, proxy.port);
    if (responseTime == 0) {
        messages.Show(kNotAvailableText, kNotAvailableCaption, MessageIcon::None);
        return;
    }
    const double shownSpeed = 100.0 * probe.MeasureDownloadSpeed(proxy.host, proxy.port);
    if (onAvailable) {
        onAvailable();
    }
    messages.Show(AvailableText(endpoint, responseTime, shownSpeed), "", MessageIcon::None);
}

void TestProxy(const std::string& endpoint, IMessageBox& messages,
               const std::function<void()>& onAvailable) {
    ProxyProbe probe;
    TestProxy(endpoint, messages, probe, onAvailable);
}
