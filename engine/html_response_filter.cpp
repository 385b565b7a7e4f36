#include "html_response_filter.h"

#include <cstdio>

namespace {

// Response heads up to this size, their empty line included, are followed:
// as long as Chromium takes them. A longer one is refused.
constexpr std::size_t kResponseHeadLimit = 256 * 1024;
// Request heads longer than this are not followed: servers refuse far shorter
// ones. The answers from there on are refused.
constexpr std::size_t kRequestHeadLimit = 64 * 1024;

// What the browser shows in place of an answer that is refused.
constexpr std::string_view kHeadTooLong = "Bad Gateway: the server's answer header was too long.\n";
constexpr std::string_view kUnreadable = "Bad Gateway: the server's answer could not be read.\n";

// Room for a chunk's size line in front of the held text: eight hex digits
// (leading zeros are allowed) and CR LF.
constexpr std::size_t kChunkLine = 10;

// Takes into `head` what `data` brings of it, `limit` bytes in all at most:
// the number of bytes of `data` taken. `ended` tells whether the head is
// complete; `head` then holds it and nothing past it. Whether a head is
// followed depends on where it ends only, never on how the reads cut it.
std::size_t TakeHead(std::string& head, std::string_view data, std::size_t limit, bool& ended) {
    std::size_t skipped = 0;
    if (head.empty()) {
        // Empty lines before a head, as sloppy peers send after a body, are
        // skipped by browsers and servers alike; they are dropped.
        skipped = std::min(data.find_first_not_of("\r\n"), data.size());
        data.remove_prefix(skipped);
    }
    const std::size_t before = head.size();
    head.append(data.substr(0, limit - std::min(before, limit)));
    const std::size_t end = FindHeadEnd(head, before);
    ended = end != std::string::npos;
    if (ended) {
        head.resize(end);
    }
    return skipped + head.size() - before;
}

bool IsHttp11(std::string_view version) {
    return version == "HTTP/1.1";
}

// The version of a request line ("GET url HTTP/1.1") or a status line
// ("HTTP/1.1 200 OK").
std::string_view RequestVersion(const HttpHead& head) {
    const std::string_view line = head.startLine;
    const std::size_t space = line.rfind(' ');
    return space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
}

std::string_view ResponseVersion(const HttpHead& head) {
    const std::string_view line = head.startLine;
    return line.substr(0, line.find(' '));
}

// The head of a rewritten body: its length and codings are gone, it comes
// chunked or ends with the close, and what described the origin's exact
// bytes no longer does (a strong validator, byte ranges).
std::string Reframed(const HttpHead& head, bool chunked) {
    std::string out = head.startLine + "\r\n";
    for (const auto& [name, value] : head.headers) {
        if (EqualNoCase(name, "Content-Length") || EqualNoCase(name, "Transfer-Encoding") ||
            EqualNoCase(name, "Content-Encoding") || EqualNoCase(name, "Accept-Ranges") ||
            (!chunked && (EqualNoCase(name, "Connection") || EqualNoCase(name, "Keep-Alive")))) {
            continue;
        }
        if (EqualNoCase(name, "ETag") && !value.starts_with("W/")) {
            out += name + ": W/" + value + "\r\n";
            continue;
        }
        out += name + ": " + value + "\r\n";
    }
    out += chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Connection: close\r\n\r\n";
    return out;
}

std::string BadGateway(std::string_view reason) {
    return "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(reason.size()) + "\r\nConnection: close\r\n\r\n" + std::string(reason);
}

// Hands on bytes of the read being relayed in as few sends as it can: runs of
// it that go on unchanged are joined; anything else (a reframed head, a
// rewritten window) goes at once, after what came before it.
class JoinedSends final : public IResponseSink {
public:
    JoinedSends(std::string_view read, IResponseSink& out) : m_read(read), m_out(out) {}
    ~JoinedSends() override { Flush(); }
    JoinedSends(const JoinedSends&) = delete;
    JoinedSends& operator=(const JoinedSends&) = delete;

    void Send(std::string_view bytes) override {
        if (bytes.empty()) {
            return;
        }
        const bool inRead = bytes.data() >= m_read.data() &&
                            bytes.data() + bytes.size() <= m_read.data() + m_read.size();
        if (inRead && m_run.data() + m_run.size() == bytes.data()) {
            m_run = std::string_view(m_run.data(), m_run.size() + bytes.size());
            return;
        }
        Flush();
        if (inRead) {
            m_run = bytes;
        } else {
            m_out.Send(bytes);
        }
    }

private:
    void Flush() {
        if (!m_run.empty()) {
            m_out.Send(m_run);
            m_run = {};
        }
    }

    std::string_view m_read;
    IResponseSink& m_out;
    std::string_view m_run;
};

}  // namespace

HtmlResponseFilter::HtmlResponseFilter(std::shared_ptr<const LiveFilterRules> rules,
                                       std::shared_ptr<PopupCounter> popups)
    : m_rules(std::move(rules)), m_popups(std::move(popups)) {}

// ---- browser -> upstream -------------------------------------------------

void HtmlResponseFilter::NoteRequest(const HttpHead& head) {
    Asked asked{std::string(RequestMethod(head)), IsHttp11(RequestVersion(head))};
    std::lock_guard lock(m_askedLock);
    m_asked.push_back(std::move(asked));
}

void HtmlResponseFilter::OnRequestBytes(std::string_view data) {
    RequestSide& r = m_request;
    while (!data.empty() && r.stop == Stop::No) {
        if (r.body) {
            data.remove_prefix(r.body->Feed(data, nullptr));
            if (r.body->Failed()) {
                r.stop = Stop::Lost;
            } else if (r.body->Done()) {
                r.body.reset();
            }
            continue;
        }
        // Only the part up to the end of this head is consumed here.
        bool ended = false;
        data.remove_prefix(TakeHead(r.head, data, kRequestHeadLimit, ended));
        if (!ended) {
            if (r.head.size() >= kRequestHeadLimit) {
                r.stop = Stop::Lost;
            }
            continue;
        }
        auto head = ParseHead(r.head);
        r.head.clear();
        if (!head) {
            r.stop = Stop::Lost;
            break;
        }
        NoteRequest(*head);
        BodyFraming framing = RequestBodyFraming(*head);
        if (framing.kind == BodyKind::Tunnel) {
            r.stop = Stop::Tunnel;  // the stream is the tunnel's from here
        } else if (framing.kind == BodyKind::Invalid) {
            r.stop = Stop::Lost;
        } else if (framing.kind != BodyKind::None) {
            r.body.emplace(framing);
        }
    }
    if (r.stop != Stop::No) {
        std::lock_guard lock(m_askedLock);
        m_requestsStopped = r.stop;
    }
}

std::optional<HtmlResponseFilter::Asked> HtmlResponseFilter::NextRequest(bool consume) {
    std::lock_guard lock(m_askedLock);
    if (m_asked.empty()) {
        // Requests followed so far are all answered: an answer now is to a
        // request past them, or an unasked one.
        switch (m_requestsStopped) {
            case Stop::No:
                return Asked{"GET", false};
            case Stop::Tunnel:
                // A browser keeps its tunnels apart from other requests: on
                // this connection it only asks for tunnels again (after a
                // refusal that asked for credentials, say).
                return Asked{"CONNECT", false};
            case Stop::Lost:
                return std::nullopt;
        }
    }
    Asked asked = m_asked.front();
    if (consume) {
        m_asked.erase(m_asked.begin());  // rarely more than one waits
    }
    return asked;
}

// ---- upstream -> browser -------------------------------------------------

void HtmlResponseFilter::OnResponseBytes(std::string_view data, IResponseSink& sink) {
    JoinedSends out(data, sink);
    while (!data.empty() && !m_endConnection) {
        switch (m_mode) {
            case Mode::PassAll:
                out.Send(data);
                return;
            case Mode::Head: {
                const bool wholeInThisRead = m_head.empty();
                bool ended = false;
                const std::size_t taken = TakeHead(m_head, data, kResponseHeadLimit, ended);
                // A head that came whole in this read goes on from the read,
                // joined with what follows it.
                const std::string_view received =
                    wholeInThisRead ? data.substr(taken - m_head.size(), m_head.size())
                                    : std::string_view(m_head);
                data.remove_prefix(taken);
                if (ended) {
                    StartResponse(received, out);
                } else if (m_head.size() >= kResponseHeadLimit) {
                    Refuse(kHeadTooLong, out);
                }
                break;
            }
            case Mode::Forward: {
                const std::size_t used = m_body->Feed(data, nullptr);
                out.Send(data.substr(0, used));
                data.remove_prefix(used);
                if (m_body->Failed()) {
                    // Where the next answer starts is lost: with rules to
                    // apply, the browser learns of the damage from the close.
                    m_endConnection = m_rules->Load().Any();
                    m_mode = Mode::PassAll;
                } else if (m_body->Done()) {
                    m_mode = Mode::Head;
                }
                break;
            }
            case Mode::Rewrite: {
                const bool chunked = m_body->Kind() == BodyKind::Chunked;
                m_unchunked.clear();
                const std::size_t used = m_body->Feed(data, chunked ? &m_unchunked : nullptr);
                Rewrite(chunked ? std::string_view(m_unchunked) : data.substr(0, used), out);
                data.remove_prefix(used);
                if (m_mode != Mode::Rewrite) {
                    break;  // the content could not be decoded
                }
                if (m_body->Failed()) {
                    EndRewrite(false, out);
                } else if (m_body->Done()) {
                    EndRewrite(true, out);
                }
                break;
            }
        }
    }
}

void HtmlResponseFilter::StartResponse(std::string_view received, IResponseSink& out) {
    const std::optional<HttpHead> head = ParseHead(m_head);
    const int status = head ? ResponseStatus(*head) : 0;
    const std::optional<Asked> asked = status == 0 ? std::nullopt : NextRequest(!IsInterim(status));
    const BodyFraming framing =
        asked ? ResponseBodyFraming(*head, asked->method) : BodyFraming{BodyKind::Invalid, 0};
    if (framing.kind == BodyKind::Invalid) {
        // Browsers read on where this filter cannot (a stray header line, a
        // bad length, no status code), and would render what it cannot check.
        Refuse(kUnreadable, out);
        return;
    }
    if (framing.kind == BodyKind::Tunnel) {
        // Not HTTP any more: a tunnel's or a WebSocket's bytes.
        out.Send(received);
        m_head.clear();
        m_mode = Mode::PassAll;
        return;
    }
    m_body.emplace(framing);
    // The switches as they are now: a change reaches kept-alive connections
    // at their next response.
    m_current = m_rules->Load();
    // A part of a body (206) is not rewritten: its range would no longer fit.
    if (m_current.Any() && !m_body->Done() && status != 206 &&
        MediaType(head->Header("Content-Type").value_or("")) == "text/html") {
        m_decoder = ContentDecoder::For(head->JoinedHeader("Content-Encoding"));
    }
    if (!m_decoder) {
        out.Send(received);
        m_head.clear();
        m_mode = m_body->Done() ? Mode::Head : Mode::Forward;
        return;
    }
    m_chunkedOut = asked->http11 && IsHttp11(ResponseVersion(*head));
    out.Send(Reframed(*head, m_chunkedOut));
    m_head.clear();
    m_held.assign(kChunkLine, ' ');  // room for a chunk's size line, then the text
    m_mode = Mode::Rewrite;
}

void HtmlResponseFilter::Refuse(std::string_view reason, IResponseSink& out) {
    if (!m_rules->Load().Any()) {
        // Nothing is filtered now: the browser makes of it what it would
        // without this program, as before filtering was asked for.
        out.Send(m_head);
        m_head.clear();
        m_mode = Mode::PassAll;
        return;
    }
    out.Send(BadGateway(reason));
    m_head.clear();
    m_endConnection = true;
}

void HtmlResponseFilter::Rewrite(std::string_view data, IResponseSink& out) {
    if (!m_decoder->Feed(data, [&](std::string_view text) { Decoded(text, out); })) {
        EndRewrite(false, out);
    }
}

void HtmlResponseFilter::Decoded(std::string_view text, IResponseSink& out) {
    // Taken a window at a time, so that what is held stays within a window
    // and the reach of a found text past it, however much a read brings.
    constexpr std::size_t kFull = kChunkLine + kFilterWindow + kLongestFoundText - 1;
    while (!text.empty()) {
        const std::size_t take = std::min(text.size(), kFull - std::min(m_held.size(), kFull));
        m_held.append(text.substr(0, take));
        text.remove_prefix(take);
        FilterHeld(false, out);
    }
}

void HtmlResponseFilter::FilterHeld(bool final, IResponseSink& out) {
    // A window is rewritten once the bytes a found text may reach past its
    // end have arrived, or the body has ended.
    constexpr std::size_t kReach = kLongestFoundText - 1;
    while (m_held.size() - kChunkLine >= (final ? 1 : kFilterWindow + kReach)) {
        std::size_t written = 0;
        int popups = 0;
        FilterFrontInPlace(m_held, kChunkLine, std::min(kFilterWindow, m_held.size() - kChunkLine),
                           m_current, written, popups);
        if (popups > 0) {
            m_popups->Add(static_cast<std::uint32_t>(popups));
        }
        SendWindow(written, out);
    }
}

void HtmlResponseFilter::SendWindow(std::size_t written, IResponseSink& out) {
    std::size_t start = kChunkLine;
    std::size_t size = written;
    if (m_chunkedOut) {
        char line[kChunkLine + 1];
        std::snprintf(line, sizeof line, "%08zx\r\n", written);
        m_held.replace(0, kChunkLine, line, kChunkLine);
        m_held.insert(kChunkLine + written, "\r\n");
        start = 0;
        size = kChunkLine + written + 2;
    }
    out.Send(std::string_view(m_held).substr(start, size));
    // What is left goes on behind fresh room for the next size line.
    m_held.replace(0, start + size, kChunkLine, ' ');
}

void HtmlResponseFilter::EndRewrite(bool complete, IResponseSink& out) {
    complete = complete && m_decoder->Finish();
    FilterHeld(true, out);
    m_decoder.reset();
    m_held.clear();
    if (complete && m_chunkedOut) {
        out.Send("0\r\n\r\n");
        m_mode = Mode::Head;
    } else {
        // Ended by the close; or cut short or damaged, which the browser
        // learns from a close before the end of the chunks.
        m_endConnection = true;
        m_mode = Mode::PassAll;
    }
    // Nothing a body needed is kept for the rest of the connection.
    m_held.shrink_to_fit();
}

void HtmlResponseFilter::OnResponseEnd(IResponseSink& out) {
    if (m_endConnection) {
        return;
    }
    if (m_mode == Mode::Rewrite) {
        // The close ends a body that has no other end; any other is cut short.
        EndRewrite(m_body->Kind() == BodyKind::UntilClose, out);
    } else if (m_mode == Mode::Head && !m_head.empty()) {
        // A head cut short: browsers make what they can of it (the body of
        // an HTTP/0.9 answer, even), and none of it was checked.
        Refuse(kUnreadable, out);
    }
}

std::shared_ptr<IConnectionFilter> HtmlFilterFactory::ForConnection() {
    return std::make_shared<HtmlResponseFilter>(m_rules, m_popups);
}
