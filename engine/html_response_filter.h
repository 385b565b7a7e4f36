// Applies the content filter's rules to the HTML bodies of one connection's
// responses as they arrive, keeping the HTTP framing the browser relies on
// intact: a body is taken out of its transfer and content codings, rewritten
// in windows of 16 KiB (a found text split between two reads or windows is
// still found), and sent on chunked to an HTTP/1.1 browser, or ended by the
// close for an HTTP/1.0 one. Nothing is held but the window being rewritten.
// The switches are read at every response head. Everything else passes
// untouched, but nothing passes unchecked: an answer this filter cannot follow
// (a head too long or malformed, an answer to a request it could not follow)
// is refused with a 502, and a body it cannot follow ends the connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "body_coding.h"
#include "connection_filter.h"
#include "content_filter.h"
#include "http_framing.h"
#include "popup_counter.h"

// The size of the windows the rules are applied to, as the relay's chunks.
inline constexpr std::size_t kFilterWindow = 16384;

class HtmlResponseFilter final : public IConnectionFilter {
public:
    HtmlResponseFilter(std::shared_ptr<const LiveFilterRules> rules,
                       std::shared_ptr<PopupCounter> popups);

    void OnRequestBytes(std::string_view data) override;
    void OnResponseBytes(std::string_view data, IResponseSink& out) override;
    void OnResponseEnd(IResponseSink& out) override;
    bool EndsConnection() const override { return m_endConnection; }

private:
    // What the next response answers: its method, and whether the browser
    // reads chunked bodies (an HTTP/1.1 request).
    struct Asked {
        std::string method;
        bool http11 = false;
    };
    // Why the browser's stream is no longer followed: it became a tunnel, or
    // it could not be followed.
    enum class Stop { No, Tunnel, Lost };
    // Browser side: just enough to know which request each response answers.
    struct RequestSide {
        std::string head;
        std::optional<BodyReader> body;
        Stop stop = Stop::No;
    };
    enum class Mode { Head, Forward, Rewrite, PassAll };

    void NoteRequest(const HttpHead& head);
    // The request the next response answers; nullopt when it cannot be known.
    std::optional<Asked> NextRequest(bool consume);
    // `received` is the head as it came.
    void StartResponse(std::string_view received, IResponseSink& out);
    // Answers the browser with a 502 instead of the response being read, and
    // ends the connection: what the filter cannot follow never goes on while
    // a rule is on. With every rule off it passes on, as it did before.
    void Refuse(std::string_view reason, IResponseSink& out);
    // Body bytes as received, while rewriting.
    void Rewrite(std::string_view data, IResponseSink& out);
    void Decoded(std::string_view text, IResponseSink& out);
    // Rewrites the held text in windows; all of it when the body has ended.
    void FilterHeld(bool final, IResponseSink& out);
    // The window just rewritten at the front of m_held, `written` bytes,
    // framed as a chunk if need be.
    void SendWindow(std::size_t written, IResponseSink& out);
    // The body has ended (complete, or cut short or damaged).
    void EndRewrite(bool complete, IResponseSink& out);

    std::shared_ptr<const LiveFilterRules> m_rules;
    std::shared_ptr<PopupCounter> m_popups;

    RequestSide m_request;  // browser -> upstream thread only
    std::mutex m_askedLock;
    std::vector<Asked> m_asked;
    Stop m_requestsStopped = Stop::No;  // under m_askedLock

    // Upstream -> browser thread only.
    Mode m_mode = Mode::Head;
    std::string m_head;  // the response head being read
    std::optional<BodyReader> m_body;
    FilterRules m_current;  // read at this response's head
    std::unique_ptr<ContentDecoder> m_decoder;
    bool m_chunkedOut = false;
    std::string m_unchunked;  // a read's body bytes without the chunk framing
    // Room for a chunk's size line, then the decoded text not rewritten yet
    // (a window at most): a window is rewritten and sent from here.
    std::string m_held;
    bool m_endConnection = false;
};

class HtmlFilterFactory final : public IConnectionFilterFactory {
public:
    // The rules and the counter are shared with the connections, which may
    // outlive the factory's owner.
    HtmlFilterFactory(std::shared_ptr<const LiveFilterRules> rules,
                      std::shared_ptr<PopupCounter> popups)
        : m_rules(std::move(rules)), m_popups(std::move(popups)) {}
    // Every connection gets a filter, even while every switch is off: a
    // switch turned on later applies from that connection's next response.
    std::shared_ptr<IConnectionFilter> ForConnection() override;

private:
    std::shared_ptr<const LiveFilterRules> m_rules;
    std::shared_ptr<PopupCounter> m_popups;
};
