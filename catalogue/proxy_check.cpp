#include "proxy_check.h"

#include <algorithm>
#include <list>
#include <optional>
#include <utility>
#include <vector>

#include "http_framing.h"
#include "http_url.h"
#include "name_lookups.h"
#include "proxy_entries.h"
#include "proxy_list.h"
#include "proxy_switching.h"
#include "socket_shim.h"
#include "vendor_url.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Two sockets an entry, this machine's own request and the wake-up: all in
// one wait.
static_assert(2 * kMaxConcurrency + 2 <= net::kMaxWaitSockets);

// A judge's answer is a few hundred bytes; a proxy that sends far more is
// not relaying it.
constexpr std::size_t kMaxAnswer = 64 * 1024;

// Follows one HTTP response as it comes: its status, and, unless only the
// head is wanted, the whole body.
class AnswerReader {
public:
    enum class State { kReading, kComplete, kInvalid };

    explicit AnswerReader(bool headOnly) : m_headOnly(headOnly) {}

    State Feed(std::string_view bytes) {
        if (m_state != State::kReading) {
            return m_state;
        }
        if (!m_body) {
            m_head.append(bytes);
            const std::size_t end = FindHeadEnd(m_head, m_searched);
            if (end == std::string::npos) {
                m_searched = m_head.size();
                return m_state = m_head.size() > kMaxAnswer ? State::kInvalid : State::kReading;
            }
            const std::optional<HttpHead> head = ParseHead(std::string_view(m_head).substr(0, end));
            m_status = head ? ResponseStatus(*head) : 0;
            if (m_status == 0) {
                return m_state = State::kInvalid;
            }
            // Only a 200 to the GET has a body worth reading.
            if (m_headOnly || m_status != 200) {
                return m_state = State::kComplete;
            }
            const BodyFraming framing = ResponseBodyFraming(*head, "GET");
            if (framing.kind == BodyKind::Invalid || framing.kind == BodyKind::Tunnel) {
                return m_state = State::kInvalid;
            }
            m_body.emplace(framing);
            const std::string rest = m_head.substr(end);
            return FeedBody(rest);
        }
        return FeedBody(bytes);
    }

    // The peer has closed: an answer that runs until the close is whole.
    State End() {
        if (m_state == State::kReading) {
            m_state = m_body && m_body->Kind() == BodyKind::UntilClose ? State::kComplete
                                                                       : State::kInvalid;
        }
        return m_state;
    }

    int Status() const { return m_status; }
    const std::string& Body() const { return m_content; }

private:
    State FeedBody(std::string_view bytes) {
        m_body->Feed(bytes, &m_content);
        if (m_body->Failed() || m_content.size() > kMaxAnswer) {
            return m_state = State::kInvalid;
        }
        return m_state = m_body->Done() ? State::kComplete : State::kReading;
    }

    const bool m_headOnly;
    State m_state = State::kReading;
    std::string m_head;
    std::size_t m_searched = 0;
    std::optional<BodyReader> m_body;
    std::string m_content;
    int m_status = 0;
};

// One request on a connection of its own: the connect, the request, the
// answer, within the deadlines of whoever owns it.
class Exchange {
public:
    enum class Ending { kNone, kUnresolved, kRefused, kConnectTimedOut, kAnswered, kNoAnswer };

    Exchange(std::string request, bool headOnly)
        : m_request(std::move(request)), m_reader(headOnly) {}

    void Start(std::optional<std::uint32_t> address, std::uint16_t port, Clock::time_point now) {
        if (!address) {
            return End(Ending::kUnresolved);
        }
        m_socket.Reset(net::OpenTcp());
        if (!m_socket.Valid() || !net::SetNonBlocking(m_socket.Get())) {
            // Out of sockets: this proxy cannot be told from a dead one now.
            return End(Ending::kRefused);
        }
        m_connectStarted = now;
        switch (net::StartConnect(m_socket.Get(), *address, port)) {
            case net::ConnectStart::kConnected:
                m_phase = Phase::kSending;
                break;
            case net::ConnectStart::kInProgress:
                m_phase = Phase::kConnecting;
                break;
            case net::ConnectStart::kFailed:
                End(Ending::kRefused);
                break;
        }
    }

    // Ends what has run out of time: the connect at `connectBy`, all by `by`.
    void Expire(Clock::time_point now, Clock::time_point connectBy, Clock::time_point by) {
        if (Waiting() && now >= connectBy) {
            End(Ending::kConnectTimedOut);
        } else if (!Done() && now >= by) {
            End(Ending::kNoAnswer);
        }
    }
    // When Expire has something to end next.
    std::optional<Clock::time_point> NextExpiry(Clock::time_point connectBy,
                                                Clock::time_point by) const {
        if (Done()) {
            return std::nullopt;
        }
        return Waiting() ? connectBy : by;
    }

    bool OnSockets() const { return m_socket.Valid() && !Done(); }
    net::SocketWait Wait() const {
        return {m_socket.Get(), m_phase == Phase::kConnecting || m_phase == Phase::kSending};
    }

    // Goes on after WaitForSockets found the socket ready.
    void Advance(Clock::time_point now) {
        if (m_phase == Phase::kConnecting) {
            if (!net::ConnectSucceeded(m_socket.Get())) {
                return End(Ending::kRefused);
            }
            m_phase = Phase::kSending;
        }
        if (m_phase == Phase::kSending) {
            return Send();
        }
        Receive(now);
    }

    bool Done() const { return m_phase == Phase::kDone; }
    Ending HowEnded() const { return m_ending; }
    int Status() const { return m_reader.Status(); }
    const std::string& Body() const { return m_reader.Body(); }
    int LatencyMs() const {
        const auto ms =
            std::chrono::duration_cast<milliseconds>(m_firstByte - m_connectStarted).count();
        return static_cast<int>(std::clamp<long long>(ms, 1, 0x7FFFFFFF));
    }

    // Waiting for a look-up of its host.
    void Resolving() { m_phase = Phase::kResolving; }
    bool IsResolving() const { return m_phase == Phase::kResolving; }

private:
    enum class Phase { kIdle, kResolving, kConnecting, kSending, kReading, kDone };

    bool Waiting() const {
        return m_phase == Phase::kIdle || m_phase == Phase::kResolving ||
               m_phase == Phase::kConnecting;
    }

    void End(Ending ending) {
        m_phase = Phase::kDone;
        m_ending = ending;
        m_socket.Reset();
    }

    void Send() {
        const int n = net::SendNow(m_socket.Get(), m_request.data() + m_sent,
                                   static_cast<int>(m_request.size() - m_sent));
        if (n == net::kWouldBlock) {
            return;
        }
        if (n < 0) {
            return End(Ending::kNoAnswer);
        }
        m_sent += static_cast<std::size_t>(n);
        if (m_sent == m_request.size()) {
            m_phase = Phase::kReading;
        }
    }

    void Receive(Clock::time_point now) {
        char buffer[16384];
        for (;;) {
            const int n = net::ReceiveNow(m_socket.Get(), buffer, sizeof buffer);
            if (n == net::kWouldBlock) {
                return;
            }
            AnswerReader::State state;
            if (n > 0) {
                if (!m_received) {
                    m_received = true;
                    m_firstByte = now;
                }
                state = m_reader.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
            } else {
                state = m_reader.End();  // closed, or failed: what came is all there is
            }
            if (state != AnswerReader::State::kReading) {
                return End(state == AnswerReader::State::kComplete ? Ending::kAnswered
                                                                   : Ending::kNoAnswer);
            }
        }
    }

    const std::string m_request;
    AnswerReader m_reader;
    net::Socket m_socket;
    Phase m_phase = Phase::kIdle;
    Ending m_ending = Ending::kNone;
    std::size_t m_sent = 0;
    bool m_received = false;
    Clock::time_point m_connectStarted;
    Clock::time_point m_firstByte;
};

// The judge as the requests name it.
struct Judge {
    std::string host;
    std::uint16_t port = 80;
    std::string authority;  // host, and the port when the URL gives one
    std::string path;
};

std::optional<Judge> JudgeOf(const std::string& url) {
    const std::optional<HttpUrl> parts = SplitHttpUrl(url);
    if (!parts || parts->secure) {
        return std::nullopt;
    }
    Judge judge{parts->host, parts->port == 0 ? std::uint16_t{80} : parts->port, parts->host,
                parts->path};
    if (parts->port != 0) {
        judge.authority += ":" + std::to_string(parts->port);
    }
    return judge;
}

class Checker {
public:
    Checker(std::span<const std::string> endpoints, Judge judge, const ProxyCheckOptions& options,
            const ProxyCheckReport& report)
        : m_endpoints(endpoints),
          m_judge(std::move(judge)),
          m_concurrency(
              static_cast<std::size_t>(std::clamp(options.concurrency, 1, kMaxConcurrency))),
          m_connectLimit(std::min(options.connectLimit, options.entryLimit)),
          m_entryLimit(options.entryLimit),
          m_report(report),
          m_own("GET " + m_judge.path + " HTTP/1.0\r\nHost: " + m_judge.authority + "\r\n\r\n",
                false) {}

    ProxyCheckRun Run(std::stop_token stop) {
        ProxyCheckRun run;
        if (!net::OpenSocketPair(m_wakeSend, m_wakeReceive)) {
            run.outcome = ProxyCheckRun::Outcome::kNoSockets;
            return run;
        }
        // Both wake the wait on the sockets; gone before the sockets are.
        NameLookups lookups([this] { Wake(); });
        m_lookups = &lookups;
        std::stop_callback onStop(stop, [this] { Wake(); });

        m_ownStarted = Clock::now();
        StartExchange(m_own, m_judge.host, m_judge.port, m_ownStarted);
        std::vector<net::SocketWait> waits;
        std::vector<Exchange*> waiting;
        while (!stop.stop_requested()) {
            const Clock::time_point now = Clock::now();
            Progress(now);
            if (m_reported == m_endpoints.size()) {
                run.ownAddress = m_ownAddress;
                return run;
            }
            waits.assign(1, net::SocketWait{m_wakeReceive.Get(), false});
            waiting.assign(1, nullptr);
            std::optional<Clock::time_point> next;
            ForEachExchange([&](Exchange& exchange, Clock::time_point started) {
                if (exchange.OnSockets()) {
                    waits.push_back(exchange.Wait());
                    waiting.push_back(&exchange);
                }
                const auto expiry =
                    exchange.NextExpiry(started + m_connectLimit, started + m_entryLimit);
                if (expiry && (!next || *expiry < *next)) {
                    next = expiry;
                }
            });
            if (net::WaitForSockets(waits, TimeoutMs(next, now)) < 0) {
                run.outcome = ProxyCheckRun::Outcome::kNoSockets;
                return run;
            }
            const Clock::time_point woken = Clock::now();
            for (std::size_t i = 1; i < waits.size(); ++i) {
                if (waits[i].ready) {
                    waiting[i]->Advance(woken);
                }
            }
            if (waits[0].ready) {
                char drained[64];
                while (net::ReceiveNow(m_wakeReceive.Get(), drained, sizeof drained) > 0) {
                }
            }
        }
        run.outcome = ProxyCheckRun::Outcome::kStopped;
        run.ownAddress = m_ownAddress;
        return run;
    }

private:
    struct Entry {
        Entry(std::size_t p, std::string request, std::string tunnelRequest)
            : position(p), get(std::move(request), false), tunnel(std::move(tunnelRequest), true) {}
        std::size_t position;
        ProxyEndpoint proxy;
        Clock::time_point started;
        Exchange get;
        Exchange tunnel;
    };
    // A live entry waiting for the answer to this machine's own request.
    struct Ungraded {
        std::size_t position;
        ProxyCheckResult result;
        JudgeAnswer answer;
    };

    void Wake() {
        const char byte = 0;
        net::SendNow(m_wakeSend.Get(), &byte, 1);  // a full pipe is awake already
    }

    static int TimeoutMs(std::optional<Clock::time_point> next, Clock::time_point now) {
        if (!next) {
            return 1000;  // nothing expires: only a look-up or a stop can wake it
        }
        const auto left = std::chrono::ceil<milliseconds>(*next - now).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 60000));
    }

    template <class Visit>
    void ForEachExchange(Visit visit) {
        visit(m_own, m_ownStarted);
        for (Entry& entry : m_active) {
            visit(entry.get, entry.started);
            visit(entry.tunnel, entry.started);
        }
    }

    // Starts the exchange at once for a dotted address; a name is looked up
    // first.
    void StartExchange(Exchange& exchange, const std::string& host, std::uint16_t port,
                       Clock::time_point now) {
        if (host.empty()) {
            return exchange.Start(std::nullopt, port, now);
        }
        if (const std::optional<std::uint32_t> dotted = net::ParseIPv4(host)) {
            return exchange.Start(dotted, port, now);
        }
        m_lookups->Start(host);
        exchange.Resolving();
        ResumeAfterLookUp(exchange, host, port, now);
    }

    void ResumeAfterLookUp(Exchange& exchange, const std::string& host, std::uint16_t port,
                           Clock::time_point now) {
        if (const auto result = m_lookups->Result(host)) {
            exchange.Start(*result, port, now);
        }
    }

    // Everything that can move on without waiting: look-ups that have ended,
    // time-outs, finished entries, new entries up to the concurrency.
    void Progress(Clock::time_point now) {
        if (m_own.IsResolving()) {
            ResumeAfterLookUp(m_own, m_judge.host, m_judge.port, now);
        }
        m_own.Expire(now, m_ownStarted + m_connectLimit, m_ownStarted + m_entryLimit);
        if (m_own.Done() && !m_ownKnown) {
            m_ownKnown = true;
            if (m_own.HowEnded() == Exchange::Ending::kAnswered && m_own.Status() == 200) {
                if (const auto answer = ParseJudgeAnswer(m_own.Body())) {
                    m_ownAddress = answer->remoteAddress;
                }
            }
            for (Ungraded& waiting : m_ungraded) {
                waiting.result.grade = GradeAnswer(waiting.answer, m_ownAddress);
                Report(waiting.position, waiting.result);
            }
            m_ungraded.clear();
        }
        // Entries that end as they start (a refused connect, a host that is
        // no name) make room for more at once.
        for (bool freed = true; freed;) {
            while (m_active.size() < m_concurrency && m_next < m_endpoints.size()) {
                StartEntry(m_next++, now);
            }
            freed = false;
            for (auto it = m_active.begin(); it != m_active.end();) {
                for (Exchange* exchange : {&it->get, &it->tunnel}) {
                    if (exchange->IsResolving()) {
                        ResumeAfterLookUp(*exchange, it->proxy.host, WirePort(it->proxy), now);
                    }
                    exchange->Expire(now, it->started + m_connectLimit, it->started + m_entryLimit);
                }
                const bool finished = Finish(*it);
                freed = freed || finished;
                it = finished ? m_active.erase(it) : std::next(it);
            }
        }
    }

    static std::uint16_t WirePort(const ProxyEndpoint& proxy) {
        return static_cast<std::uint16_t>(static_cast<std::uint32_t>(proxy.port));
    }

    void StartEntry(std::size_t position, Clock::time_point now) {
        const std::string target = m_judge.host + ":" + std::to_string(m_judge.port);
        Entry& entry = m_active.emplace_back(
            position,
            "GET http://" + m_judge.authority + m_judge.path +
                " HTTP/1.0\r\nHost: " + m_judge.authority + "\r\n\r\n",
            "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
        entry.proxy = ParseProxyEndpoint(m_endpoints[position]);
        entry.started = now;
        StartExchange(entry.get, entry.proxy.host, WirePort(entry.proxy), now);
        StartExchange(entry.tunnel, entry.proxy.host, WirePort(entry.proxy), now);
    }

    // Reports the entry once its result is known; true when it has no more
    // use for its slot.
    bool Finish(Entry& entry) {
        if (!entry.get.Done()) {
            return false;
        }
        ProxyCheckResult result;
        result.endpoint = m_endpoints[entry.position];
        switch (entry.get.HowEnded()) {
            case Exchange::Ending::kAnswered:
                result.state = ProxyState::kBad;
                break;
            case Exchange::Ending::kNoAnswer:
                result.state = ProxyState::kBad;
                Report(entry.position, result);
                return true;
            default:
                result.state = ProxyState::kDead;
                Report(entry.position, result);
                return true;
        }
        std::optional<JudgeAnswer> answer;
        if (entry.get.Status() == 200) {
            answer = ParseJudgeAnswer(entry.get.Body());
        }
        if (!answer) {
            Report(entry.position, result);
            return true;
        }
        if (!entry.tunnel.Done()) {
            return false;
        }
        result.state = ProxyState::kAlive;
        result.latencyMs = entry.get.LatencyMs();
        const int status = entry.tunnel.Status();
        result.https =
            entry.tunnel.HowEnded() == Exchange::Ending::kAnswered && status >= 200 && status < 300;
        if (!m_ownKnown) {
            m_ungraded.push_back({entry.position, std::move(result), std::move(*answer)});
            return true;
        }
        result.grade = GradeAnswer(*answer, m_ownAddress);
        Report(entry.position, result);
        return true;
    }

    void Report(std::size_t position, ProxyCheckResult& result) {
        result.checkedAt =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        ++m_reported;
        if (m_report) {
            m_report(position, result);
        }
    }

    const std::span<const std::string> m_endpoints;
    const Judge m_judge;
    const std::size_t m_concurrency;
    const milliseconds m_connectLimit;
    const milliseconds m_entryLimit;
    const ProxyCheckReport& m_report;

    net::Socket m_wakeSend;
    net::Socket m_wakeReceive;
    NameLookups* m_lookups = nullptr;

    Exchange m_own;
    Clock::time_point m_ownStarted;
    bool m_ownKnown = false;
    std::string m_ownAddress;

    std::list<Entry> m_active;
    std::vector<Ungraded> m_ungraded;
    std::size_t m_next = 0;
    std::size_t m_reported = 0;
};

}  // namespace

std::string_view StateText(ProxyState state) {
    return kStateTexts[static_cast<std::size_t>(state)];
}

std::string_view GradeText(ProxyGrade grade) {
    return kGradeTexts[static_cast<std::size_t>(grade)];
}

std::string FormatResultFields(const ProxyCheckResult& result) {
    const bool alive = result.state == ProxyState::kAlive;
    std::string line = result.endpoint;
    line.append("\t").append(StateText(result.state));
    line.append("\t").append(alive ? std::to_string(result.latencyMs) : "-");
    line.append("\t").append(alive ? GradeText(result.grade) : "-");
    line.append("\t").append(alive ? (result.https ? "yes" : "no") : "-");
    return line;
}

ProxyCheckRun CheckProxies(std::span<const std::string> endpoints, const ProxyCheckOptions& options,
                           std::stop_token stop, const ProxyCheckReport& report) {
    const std::optional<Judge> judge =
        JudgeOf(options.judgeUrl.empty() ? VendorUrl(kJudgeUrlPath) : options.judgeUrl);
    if (!judge) {
        return {ProxyCheckRun::Outcome::kNoJudge, {}};
    }
    if (endpoints.empty()) {
        return {};
    }
    net::SocketLibrary library;
    return Checker(endpoints, *judge, options, report).Run(std::move(stop));
}

std::vector<std::string> CheckEntries(std::string_view fileBytes) {
    const std::string text = FromStoredForm(fileBytes);
    // A line that ends in a bare LF is as good as one in CR LF here.
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            lines += '\r';
        }
        lines += text[i];
    }
    std::vector<std::string> entries;
    for (std::string_view line : EntryLines(lines)) {
        if (!line.empty()) {
            entries.emplace_back(line);
        }
    }
    return entries;
}
