// The proxy test of the Settings page: can a TCP connection to the proxy be
// opened, how long did that take, and how fast does a small download through
// the proxy run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "message_box.h"

// The size of the measured read: the first 632 bytes of the test image.
inline constexpr int kMeasuredBytes = 632;
// What the proxy text buffer holds, terminating zero included.
inline constexpr std::size_t kProxyTextBuffer = 260;

inline constexpr const char* kTestingText =
    "Testing the proxy you selected. This may take a few seconds";
inline constexpr const char* kNotAvailableText =
    "Proxy Server is NOT Available - Please select a different proxy";
inline constexpr const char* kNotAvailableCaption = "Error";

// Milliseconds of the TCP connection to host:port, at least 1; 0 when the
// host cannot be resolved or the connection fails.
int MeasureResponseTime(const std::string& host, int port);
// 0.6171875 / t for a first read of the test image through the proxy that
// took t milliseconds (at least 1); 0.0 when nothing could be read.
double MeasureDownloadSpeed(const std::string& host, int port);

// The two measurements, for TestProxy; tests may give their own.
class IProxyProbe {
public:
    virtual ~IProxyProbe() = default;
    virtual int MeasureResponseTime(const std::string& host, int port) = 0;
    virtual double MeasureDownloadSpeed(const std::string& host, int port) = 0;
};

class ProxyProbe final : public IProxyProbe {
public:
    int MeasureResponseTime(const std::string& host, int port) override {
        return ::MeasureResponseTime(host, port);
    }
    double MeasureDownloadSpeed(const std::string& host, int port) override {
        return ::MeasureDownloadSpeed(host, port);
    }
};

// The interactive test of an endpoint text ("host:port"): tells the user it
// starts, probes, and reports the proxy available (with its figures) or not.
// `onAvailable` runs, when given, after the probes of an available proxy and
// before its message.
void TestProxy(const std::string& endpoint, IMessageBox& messages, IProxyProbe& probe,
               const std::function<void()>& onAvailable = {});
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
