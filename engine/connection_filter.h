#pragma once

#include <memory>
#include <string_view>

// Where what a filter lets through goes: the browser's side.
class IResponseSink {
public:
    virtual ~IResponseSink() = default;
    virtual void Send(std::string_view bytes) = 0;
};

// Watches one relayed connection and may rewrite what travels from the
// upstream side towards the browser. The two directions call it from their
// own threads.
class IConnectionFilter {
public:
    virtual ~IConnectionFilter() = default;
    // Browser -> upstream bytes, every request head included, right before
    // they are sent.
    virtual void OnRequestBytes(std::string_view data) = 0;
    // Upstream -> browser bytes as received; what goes on to the browser is
    // handed to `out`, in as many pieces as it takes (none while a piece is
    // held back).
    virtual void OnResponseBytes(std::string_view data, IResponseSink& out) = 0;
    // The upstream side has ended its stream: whatever is still held back,
    // before the end is passed on to the browser.
    virtual void OnResponseEnd(IResponseSink& out) = 0;
    // True once the browser's connection must end after what was sent: an
    // answer that only the close can end, one that could not be finished, or
    // one refused in place of what could not be checked.
    virtual bool EndsConnection() const = 0;
};

class IConnectionFilterFactory {
public:
    virtual ~IConnectionFilterFactory() = default;
    // A filter for a new connection, or nullptr for a plain relay.
    virtual std::shared_ptr<IConnectionFilter> ForConnection() = 0;
};
