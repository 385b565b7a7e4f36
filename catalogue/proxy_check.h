// The list check: every entry of a proxy list tested through the proxy it
// names, many at once, and graded by what the vendor's judge sees of it.
//
// An entry is an endpoint text as everywhere ("host:port": the host before
// the first ':', the port read as atoi reads it, its low 16 bits on the
// wire). Each entry gets two connections side by side, each bounded by
// kConnectLimit for the connect and by kEntryLimit in all:
//   - a plain-HTTP GET of the judge through the proxy: the entry is alive
//     when a 200 with the judge's answer comes back whole, dead when the
//     connect is refused, the host does not resolve or the connect runs out
//     of time, and bad otherwise (silence past the limit, no HTTP, another
//     status, another body);
//   - a CONNECT to the judge's host and port: HTTPS when a 2xx answers it.
// A live entry's latency is the time from the start of its connect to the
// first byte of the answer. Its grade compares the answer with the one the
// judge gives this machine's own request, made once per check without a
// proxy (judge_answer.h).
//
// The check runs on the thread that calls CheckProxies, which waits on all
// of its sockets at once (at most kMaxConcurrency entries, two sockets each).
// Dotted addresses need no look-up; host names are looked up by at most
// NameLookups::kThreads threads of their own, within the entry's connect
// limit, and a stop never waits for them.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "judge_answer.h"

inline constexpr std::chrono::milliseconds kConnectLimit = std::chrono::seconds(5);
inline constexpr std::chrono::milliseconds kEntryLimit = std::chrono::seconds(8);
inline constexpr int kMaxConcurrency = 256;

enum class ProxyState { kAlive, kDead, kBad };

struct ProxyCheckResult {
    std::string endpoint;
    ProxyState state = ProxyState::kDead;
    // The next three hold for live entries only.
    int latencyMs = 0;  // at least 1
    ProxyGrade grade = ProxyGrade::kNone;
    bool https = false;
    // When the entry was checked, to the second.
    std::chrono::system_clock::time_point checkedAt;

    bool operator==(const ProxyCheckResult&) const = default;
};

// The words of the results file and of quillon-probe, in the order of the
// values.
inline constexpr std::array<std::string_view, 3> kStateTexts = {"alive", "dead", "bad"};
inline constexpr std::array<std::string_view, 4> kGradeTexts = {"-", "transparent", "anonymous",
                                                                "elite"};
std::string_view StateText(ProxyState state);
std::string_view GradeText(ProxyGrade grade);
// endpoint, state, latency in ms, grade, HTTPS (yes, no): tab-separated,
// with "-" for what a dead or bad entry does not have.
std::string FormatResultFields(const ProxyCheckResult& result);

struct ProxyCheckOptions {
    // An http:// URL; empty: the vendor's judge (VendorUrl(kJudgeUrlPath)).
    std::string judgeUrl;
    // Entries tested at once, 1 to kMaxConcurrency (clamped).
    int concurrency = kMaxConcurrency;
    // Only tests give other limits.
    std::chrono::milliseconds connectLimit = kConnectLimit;
    std::chrono::milliseconds entryLimit = kEntryLimit;
};

struct ProxyCheckRun {
    enum class Outcome {
        kDone,      // every entry has its result
        kStopped,   // a stop came first: the entries not reported have none
        kNoJudge,   // the judge URL is no http:// URL: nothing was tested
        kNoSockets  // the sockets to wait with could not be had
    };
    Outcome outcome = Outcome::kDone;
    // The address the judge reported for this machine's own request; empty
    // when it did not answer (live entries then have no grade), or had not
    // yet when no live entry needed it.
    std::string ownAddress;
};

// Called once per entry as its result comes, on the checking thread, with
// the entry's position in `endpoints`. Keep it short (hand the result to the
// window's thread): the check waits meanwhile.
using ProxyCheckReport = std::function<void(std::size_t position, const ProxyCheckResult&)>;

// Tests every endpoint and returns when all are done, or at once on a stop
// request from another thread.
ProxyCheckRun CheckProxies(std::span<const std::string> endpoints, const ProxyCheckOptions& options,
                           std::stop_token stop, const ProxyCheckReport& report);

// The entries of a list file for the check: each line of the stored text
// (FromStoredForm) that ends in LF, with a CR before it dropped, and is a
// non-empty endpoint text, in file order. A stored list (CR CR LF) and a
// plain text file (LF) read the same.
std::vector<std::string> CheckEntries(std::string_view storedText);
