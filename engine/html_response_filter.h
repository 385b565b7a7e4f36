// Applies the content filter's rules to the HTML bodies of one connection's
// responses, keeping the HTTP framing the browser relies on intact: bodies
// are collected (de-chunked and decompressed), rewritten as a whole and sent
// with a Content-Length that matches. Everything else passes untouched.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "connection_filter.h"
#include "content_filter.h"
#include "http_framing.h"
#include "popup_counter.h"

// Bodies above this size (raw or decoded) pass through unfiltered.
inline constexpr std::size_t kFilteredBodyLimit = 4u << 20;

class HtmlResponseFilter final : public IConnectionFilter {
public:
    HtmlResponseFilter(FilterSwitches switches, std::shared_ptr<PopupCounter> popups,
                       std::size_t bodyLimit = kFilteredBodyLimit);

    void OnRequestBytes(std::string_view data) override;
    std::string_view OnResponseBytes(std::string_view data) override;
    std::string_view OnResponseEnd() override;

private:
    // Browser side: just enough to know which request each response answers.
    struct RequestSide {
        std::string head;
        std::optional<BodyReader> body;
        bool stopped = false;  // tunnel, or a stream that cannot be followed
    };
    enum class Mode { Head, Forward, Collect, PassAll };

    void NoteRequest(std::string_view method);
    // The method of the request the next response answers; nullopt when it
    // cannot be known.
    std::optional<std::string> NextMethod(bool consume);
    void StartResponse();
    void FinishCollected();
    void GiveUpCollecting();
    // The held body as it was received.
    const std::string& Raw() const;

    FilterSwitches m_switches;
    std::shared_ptr<PopupCounter> m_popups;
    const std::size_t m_bodyLimit;

    RequestSide m_request;  // browser -> upstream thread only
    std::mutex m_methodsLock;
    std::deque<std::string> m_methods;
    bool m_requestsLost = false;  // under m_methodsLock

    // Upstream -> browser thread only.
    Mode m_mode = Mode::Head;
    std::string m_head;  // the response head being read, or the held one
    std::optional<HttpHead> m_parsed;
    std::optional<BodyReader> m_body;
    std::string m_raw;      // a held chunked body as received
    std::string m_content;  // the held body without its transfer coding
    std::string m_out;
};

class HtmlFilterFactory final : public IConnectionFilterFactory {
public:
    // The switches are settings that outlive every connection; the counter
    // is shared with the connections, which may outlive the factory's owner.
    HtmlFilterFactory(FilterSwitches switches, std::shared_ptr<PopupCounter> popups)
        : m_switches(switches), m_popups(std::move(popups)) {}
    // A plain relay while every switch is off when the connection starts.
    std::shared_ptr<IConnectionFilter> ForConnection() override;

private:
    FilterSwitches m_switches;
    std::shared_ptr<PopupCounter> m_popups;
};
