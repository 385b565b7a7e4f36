// The proxy test of the Settings page: can a TCP connection to the proxy be
// opened, how long did that take, and does the test image come through the
// proxy, how fast.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "message_box.h"

// The size of the measured read: the first 632 bytes of the test image.
inline constexpr int kMeasuredBytes = 632;
// What the proxy text buffer holds, terminating zero included.
inline constexpr std::size_t kProxyTextBuffer = 260;
// The connect and the download of one probe together; a proxy that needs
// longer is not available.
inline constexpr std::chrono::milliseconds kProbeLimit = std::chrono::seconds(10);

inline constexpr const char* kTestingText =
    "Testing the proxy you selected. This may take a few seconds";
inline constexpr const char* kNotAvailableText =
    "Proxy Server is NOT Available - Please select a different proxy";
inline constexpr const char* kNotAvailableCaption = "Error";

using ProbeDeadline = std::chrono::steady_clock::time_point;

// Milliseconds of the TCP connection to host:port, at least 1; 0 when the
// host cannot be resolved, the connection fails or is not made by the
// deadline, or a stop is requested.
int MeasureResponseTime(const std::string& host, int port, ProbeDeadline deadline,
                        std::stop_token stop);
// 0.6171875 / t for a first read of the test image through the proxy that
// took t milliseconds (at least 1); 0.0 unless the whole image came through
// with a 2xx status by the deadline and without a stop.
double MeasureDownloadSpeed(const std::string& host, int port, ProbeDeadline deadline,
                            std::stop_token stop);

// What the probe of an available proxy found.
struct ProbeFigures {
    int responseTime = 0;
    double downloadSpeed = 0.0;
};

// The probe behind TestProxy; tests may give their own.
class IProxyProbe {
public:
    virtual ~IProxyProbe() = default;
    // The figures of a proxy that relays the test image; nothing when it
    // does not, or a stop is requested. A stop ends it at once.
    virtual std::optional<ProbeFigures> Measure(const std::string& host, int port,
                                                std::stop_token stop) = 0;
};

class ProxyProbe final : public IProxyProbe {
public:
    // Only tests give a shorter limit.
    explicit ProxyProbe(std::chrono::milliseconds limit = kProbeLimit) : m_limit(limit) {}
    std::optional<ProbeFigures> Measure(const std::string& host, int port,
                                        std::stop_token stop) override;

private:
    std::chrono::milliseconds m_limit;
};

// The interactive test of an endpoint text ("host:port"): tells the user it
// starts, probes, and reports the proxy available (with its figures) or not.
// `onAvailable` runs, when given, after the probe of an available proxy and
// before its message. After a stop request nothing more is shown.
void TestProxy(const std::string& endpoint, IMessageBox& messages, IProxyProbe& probe,
               const std::function<void()>& onAvailable = {}, std::stop_token stop = {});
void TestProxy(const std::string& endpoint, IMessageBox& messages,
               const std::function<void()>& onAvailable = {});

// Helpers of the measurements, for both platforms.

// t1 - t0 on the wrapping tick, at least 1.
std::uint32_t ElapsedTicks(std::uint32_t t0, std::uint32_t t1);
// The download figure of a read that took from t0 to t1.
double DownloadSpeedFigure(std::uint32_t t0, std::uint32_t t1);
// "host:port" as the probe hands it to the proxy settings; nothing when it
// does not fit the proxy text buffer.
std::optional<std::string> ProxyText(const std::string& host, int port);
// The message of an available proxy.
std::string AvailableText(const std::string& endpoint, int responseTime, double shownSpeed);
// What is left of the probe's time, never below 0.
std::chrono::milliseconds TimeLeft(ProbeDeadline deadline);

// The test image as it comes through the proxy, piece by piece: when the
// first piece came, and whether it came whole, a JPEG from its start-of-image
// marker to its end-of-image marker. A proxy's own error page, or a body it
// cut short, is not the image.
class TestImageRead {
public:
    void Add(std::string_view bytes);
    bool Whole() const;
    // The tick of the first piece.
    std::uint32_t FirstTick() const { return m_firstTick; }

private:
    bool m_started = false;
    std::uint32_t m_firstTick = 0;
    std::string m_head;  // the first 3 bytes
    std::string m_tail;  // the last 2
};
