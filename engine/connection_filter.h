#pragma once

#include <memory>
#include <string_view>

// Watches one relayed connection and may rewrite what travels from the
// upstream side towards the browser. The two directions call it from their
// own threads.
class IConnectionFilter {
public:
    virtual ~IConnectionFilter() = default;
    // Browser -> upstream bytes, the first request head included, right
    // before they are sent.
    virtual void OnRequestBytes(std::string_view data) = 0;
    // Upstream -> browser bytes as received; returns what to send now (which
    // may be `data` itself, or nothing while a response is held back). The
    // view stays valid until the next call.
    virtual std::string_view OnResponseBytes(std::string_view data) = 0;
    // The upstream side has closed: whatever is still held back.
    virtual std::string_view OnResponseEnd() = 0;
};

class IConnectionFilterFactory {
public:
    virtual ~IConnectionFilterFactory() = default;
    // A filter for a new connection, or nullptr for a plain relay.
    virtual std::shared_ptr<IConnectionFilter> ForConnection() = 0;
};
