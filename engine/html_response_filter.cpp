#include "html_response_filter.h"

#include "body_coding.h"

namespace {

// Heads larger than this, their empty line included, are not HTTP as browsers
// send or receive it; such a stream is passed on untouched. Whether a head is
// followed depends on where it ends only, never on how the reads cut it.
constexpr std::size_t kHeadLimit = 64 * 1024;

bool IsFilterableCoding(std::string_view coding) {
    return coding.empty() || EqualNoCase(coding, "identity") || EqualNoCase(coding, "gzip") ||
           EqualNoCase(coding, "x-gzip") || EqualNoCase(coding, "deflate");
}

// The head with the framing and coding headers replaced by one Content-Length.
std::string Reframed(const HttpHead& head, std::size_t length) {
    std::string out = head.startLine + "\r\n";
    for (const auto& [name, value] : head.headers) {
        if (EqualNoCase(name, "Content-Length") || EqualNoCase(name, "Transfer-Encoding") ||
            EqualNoCase(name, "Content-Encoding")) {
            continue;
        }
        out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    return out;
}

}  // namespace

HtmlResponseFilter::HtmlResponseFilter(FilterSwitches switches,
                                       std::shared_ptr<PopupCounter> popups, std::size_t bodyLimit)
    : m_switches(switches), m_popups(std::move(popups)), m_bodyLimit(bodyLimit) {}

// ---- browser -> upstream -------------------------------------------------

void HtmlResponseFilter::NoteRequest(std::string_view method) {
    std::lock_guard lock(m_methodsLock);
    m_methods.emplace_back(method);
}

void HtmlResponseFilter::OnRequestBytes(std::string_view data) {
    RequestSide& r = m_request;
    while (!data.empty() && !r.stopped) {
        if (r.body) {
            data.remove_prefix(r.body->Feed(data, nullptr));
            if (r.body->Failed()) {
                r.stopped = true;
            } else if (r.body->Done()) {
                r.body.reset();
            }
            continue;
        }
        // Only the part up to the end of this head is consumed here.
        const std::size_t before = r.head.size();
        r.head.append(data.substr(0, kHeadLimit - std::min(before, kHeadLimit)));
        const std::size_t end = FindHeadEnd(r.head);
        if (end == std::string::npos) {
            if (r.head.size() >= kHeadLimit) {
                r.stopped = true;
            }
            data.remove_prefix(r.head.size() - before);
            continue;
        }
        data.remove_prefix(end - before);
        auto head = ParseHead(std::string_view(r.head).substr(0, end));
        r.head.clear();
        if (!head) {
            r.stopped = true;
            break;
        }
        NoteRequest(RequestMethod(*head));
        BodyFraming framing = RequestBodyFraming(*head);
        if (framing.kind == BodyKind::Tunnel || framing.kind == BodyKind::Invalid) {
            // After CONNECT the stream is the tunnel's; after an unknown
            // framing it cannot be followed.
            r.stopped = true;
        } else if (framing.kind != BodyKind::None) {
            r.body.emplace(framing);
        }
    }
    if (r.stopped) {
        std::lock_guard lock(m_methodsLock);
        m_requestsLost = true;
    }
}

std::optional<std::string> HtmlResponseFilter::NextMethod(bool consume) {
    std::lock_guard lock(m_methodsLock);
    if (m_methods.empty()) {
        // Requests followed so far are all answered: an answer now is to a
        // request that could not be followed, or an unasked one.
        return m_requestsLost ? std::nullopt : std::optional<std::string>("GET");
    }
    std::string method = m_methods.front();
    if (consume) {
        m_methods.pop_front();
    }
    return method;
}

// ---- upstream -> browser -------------------------------------------------

std::string_view HtmlResponseFilter::OnResponseBytes(std::string_view data) {
    if (m_mode == Mode::PassAll) {
        return data;
    }
    // The common case of a body passing through: no copy.
    if (m_mode == Mode::Forward && m_body->Kind() != BodyKind::Chunked) {
        const std::size_t used = m_body->Feed(data, nullptr);
        if (used == data.size() && !m_body->Done()) {
            return data;
        }
        m_out.assign(data.substr(0, used));
        data.remove_prefix(used);
        if (m_body->Done()) {
            m_mode = Mode::Head;
        }
    } else {
        m_out.clear();
    }
    while (!data.empty() && m_mode != Mode::PassAll) {
        switch (m_mode) {
            case Mode::Head: {
                const std::size_t before = m_head.size();
                m_head.append(data.substr(0, kHeadLimit - std::min(before, kHeadLimit)));
                const std::size_t end = FindHeadEnd(m_head);
                if (end == std::string::npos) {
                    data.remove_prefix(m_head.size() - before);
                    if (m_head.size() >= kHeadLimit) {
                        m_out += m_head;
                        m_head.clear();
                        m_mode = Mode::PassAll;
                    }
                    continue;
                }
                data.remove_prefix(end - before);
                m_head.resize(end);
                StartResponse();
                break;
            }
            case Mode::Forward: {
                const std::size_t used = m_body->Feed(data, nullptr);
                m_out.append(data.substr(0, used));
                data.remove_prefix(used);
                if (m_body->Failed()) {
                    m_mode = Mode::PassAll;
                } else if (m_body->Done()) {
                    m_mode = Mode::Head;
                }
                break;
            }
            case Mode::Collect: {
                const std::size_t used = m_body->Feed(data, &m_content);
                // Only a chunked body differs from its content as received.
                if (m_body->Kind() == BodyKind::Chunked) {
                    m_raw.append(data.substr(0, used));
                }
                data.remove_prefix(used);
                if (m_body->Failed()) {
                    GiveUpCollecting();
                    m_mode = Mode::PassAll;
                } else if (m_raw.size() > m_bodyLimit || m_content.size() > m_bodyLimit) {
                    GiveUpCollecting();
                    if (m_body->Done()) {
                        m_mode = Mode::Head;
                    }
                } else if (m_body->Done()) {
                    FinishCollected();
                }
                break;
            }
            case Mode::PassAll:
                break;
        }
    }
    if (m_mode == Mode::PassAll) {
        m_out.append(data);
    }
    return m_out;
}

void HtmlResponseFilter::StartResponse() {
    m_parsed = ParseHead(m_head);
    const int status = m_parsed ? ResponseStatus(*m_parsed) : 0;
    const std::optional<std::string> method =
        status == 0 ? std::nullopt : NextMethod(!IsInterim(status));
    const BodyFraming framing =
        method ? ResponseBodyFraming(*m_parsed, *method) : BodyFraming{BodyKind::Invalid, 0};
    if (framing.kind == BodyKind::Tunnel || framing.kind == BodyKind::Invalid) {
        m_out += m_head;
        m_head.clear();
        m_mode = Mode::PassAll;
        return;
    }
    m_body.emplace(framing);
    const bool html = framing.kind != BodyKind::None &&
                      MediaType(m_parsed->Header("Content-Type").value_or("")) == "text/html" &&
                      IsFilterableCoding(m_parsed->JoinedHeader("Content-Encoding"));
    if (!html) {
        m_out += m_head;
        m_head.clear();
        m_mode = m_body->Done() ? Mode::Head : Mode::Forward;
        return;
    }
    m_raw.clear();
    m_content.clear();
    m_mode = Mode::Collect;
    if (m_body->Done()) {
        // An empty body (Content-Length: 0): no byte will come to finish it,
        // so it goes out now instead of waiting for the next response or
        // the close, which a kept-alive connection never sends.
        FinishCollected();
    }
}

void HtmlResponseFilter::FinishCollected() {
    const std::string coding = m_parsed->JoinedHeader("Content-Encoding");
    std::optional<std::string> decoded;
    if (!coding.empty() && !EqualNoCase(coding, "identity")) {
        decoded = DecodeContent(coding, m_content, m_bodyLimit);
        if (!decoded) {
            // A coding that cannot be undone: the response goes on as it came.
            GiveUpCollecting();
            m_mode = Mode::Head;
            return;
        }
    }
    std::string& text = decoded ? *decoded : m_content;
    m_popups->Add(
        static_cast<std::uint32_t>(ApplyFilterRules(text, FilterRules::Read(m_switches))));
    m_out += Reframed(*m_parsed, text.size());
    m_out += text;
    m_head.clear();
    m_raw.clear();
    m_content.clear();
    m_mode = Mode::Head;
}

const std::string& HtmlResponseFilter::Raw() const {
    return m_body->Kind() == BodyKind::Chunked ? m_raw : m_content;
}

void HtmlResponseFilter::GiveUpCollecting() {
    m_out += m_head;
    m_out += Raw();
    m_head.clear();
    m_raw.clear();
    m_content.clear();
    m_content.shrink_to_fit();
    m_raw.shrink_to_fit();
    m_mode = Mode::Forward;
}

std::string_view HtmlResponseFilter::OnResponseEnd() {
    m_out.clear();
    if (m_mode == Mode::Collect) {
        if (m_body->Kind() == BodyKind::UntilClose) {
            FinishCollected();  // the close ends this body
        } else {
            GiveUpCollecting();  // cut short: pass on what came
        }
    } else if (m_mode == Mode::Head) {
        m_out += m_head;  // a head cut short
        m_head.clear();
    }
    return m_out;
}

std::shared_ptr<IConnectionFilter> HtmlFilterFactory::ForConnection() {
    if (!FilterRules::Read(m_switches).Any()) {
        return nullptr;
    }
    return std::make_shared<HtmlResponseFilter>(m_switches, m_popups);
}
