#include "proxy_probe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>
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

std::chrono::milliseconds TimeLeft(ProbeDeadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

void TestImageRead::Add(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (!m_started) {
        m_firstTick = TickCount();
        m_started = true;
    }
    m_head.append(bytes.substr(0, 3 - std::min<std::size_t>(m_head.size(), 3)));
    m_tail.append(bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 2)));
    m_tail.erase(0, m_tail.size() - std::min<std::size_t>(m_tail.size(), 2));
}

bool TestImageRead::Whole() const {
    return m_head == "\xFF\xD8\xFF" && m_tail == "\xFF\xD9";
}

int MeasureResponseTime(const std::string& host, int port, ProbeDeadline deadline,
                        std::stop_token stop) {
    if (host.empty()) {
        return 0;  // nothing to connect to
    }
    net::SocketLibrary library;
    std::optional<std::uint32_t> address = net::ResolveIPv4(host);
    if (!address) {
        return 0;
    }
    net::Socket socket(net::OpenTcp());
    const auto left = TimeLeft(deadline);
    if (!socket.Valid() || left.count() == 0) {
        return 0;
    }
    // The port goes on the wire as its low 16 bits, as htons takes it.
    const auto wirePort = static_cast<std::uint16_t>(static_cast<std::uint32_t>(port));
    const std::uint32_t t0 = TickCount();
    if (net::ConnectWithin(socket.Get(), *address, wirePort, static_cast<int>(left.count()),
                           std::move(stop)) != net::ConnectOutcome::kConnected) {
        return 0;
    }
    const std::uint32_t d = ElapsedTicks(t0, TickCount());
    // A connect that "took" more than 24 days is a clock gone wrong, not a proxy.
    return d > 0x7FFFFFFFu ? 1 : static_cast<int>(d);
}

std::optional<ProbeFigures> ProxyProbe::Measure(const std::string& host, int port,
                                                std::stop_token stop) {
    const ProbeDeadline deadline = std::chrono::steady_clock::now() + m_limit;
    const int responseTime = MeasureResponseTime(host, port, deadline, stop);
    if (responseTime == 0) {
        return std::nullopt;
    }
    // A proxy that takes connections but relays nothing is of no use.
    const double speed = MeasureDownloadSpeed(host, port, deadline, std::move(stop));
    if (speed <= 0.0) {
        return std::nullopt;
    }
    return ProbeFigures{responseTime, speed};
}

void TestProxy(const std::string& endpoint, IMessageBox& messages, IProxyProbe& probe,
               const std::function<void()>& onAvailable, std::stop_token stop) {
    const ProxyEndpoint proxy = ParseProxyEndpoint(endpoint);
    messages.Show(kTestingText, "", MessageIcon::None);
    const std::optional<ProbeFigures> figures = probe.Measure(proxy.host, proxy.port, stop);
    if (stop.stop_requested()) {
        return;  // the program is ending: no verdict to give
    }
    if (!figures) {
        messages.Show(kNotAvailableText, kNotAvailableCaption, MessageIcon::None);
        return;
    }
    if (onAvailable) {
        onAvailable();
    }
    messages.Show(AvailableText(endpoint, figures->responseTime, 100.0 * figures->downloadSpeed),
                  "", MessageIcon::None);
}

void TestProxy(const std::string& endpoint, IMessageBox& messages,
               const std::function<void()>& onAvailable) {
    ProxyProbe probe;
    TestProxy(endpoint, messages, probe, onAvailable);
}
