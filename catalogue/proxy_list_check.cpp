#include "proxy_list_check.h"

#include <algorithm>
#include <utility>

ProxyListCheck::ProxyListCheck(std::shared_ptr<IWindowPost> post, ProxyCheckOptions options)
    : m_post(std::move(post)), m_options(std::move(options)) {}

ProxyListCheck::~ProxyListCheck() {
    Stop();
}

void ProxyListCheck::Stop() {
    m_receiver.reset();
    m_worker = std::jthread();  // asks the running check to stop and joins it
}

void ProxyListCheck::Start(std::vector<std::string> endpoints, Receiver receiver) {
    Stop();
    if (m_post == nullptr || endpoints.empty()) {
        return;
    }
    m_receiver = std::make_shared<const Receiver>(std::move(receiver));
    m_worker =
        std::jthread([post = m_post, options = m_options, endpoints = std::move(endpoints),
                      weak = std::weak_ptr<const Receiver>(m_receiver)](std::stop_token stop) {
            const auto deliver = [&](std::function<void(const Receiver&)> work) {
                post->Post([weak, work = std::move(work)] {
                    if (const auto receiver = weak.lock()) {
                        work(*receiver);
                    }
                });
            };
            const ProxyCheckRun run = CheckProxies(
                endpoints, options, stop, [&](std::size_t, const ProxyCheckResult& result) {
                    deliver([result](const Receiver& receiver) { receiver.result(result); });
                });
            deliver([outcome = run.outcome](const Receiver& receiver) { receiver.end(outcome); });
        });
}

EntryMarkKind MarkKind(const ProxyCheckResult* result) {
    if (result == nullptr) {
        return EntryMarkKind::kUnchecked;
    }
    switch (result->state) {
        case ProxyState::kDead:
            return EntryMarkKind::kDead;
        case ProxyState::kBad:
            return EntryMarkKind::kBad;
        case ProxyState::kAlive:
            break;
    }
    switch (result->grade) {
        case ProxyGrade::kElite:
            return EntryMarkKind::kElite;
        case ProxyGrade::kAnonymous:
            return EntryMarkKind::kAnonymous;
        case ProxyGrade::kTransparent:
            return EntryMarkKind::kTransparent;
        case ProxyGrade::kNone:
            break;
    }
    return EntryMarkKind::kUngraded;
}

bool IsStale(const ProxyCheckResult& result, std::chrono::system_clock::time_point now) {
    return ResultAge(result, now) > kStaleAfter;
}

std::string AgeText(std::chrono::seconds age) {
    using namespace std::chrono;
    const auto count = [](long long n, const char* unit) {
        return std::to_string(n) + " " + unit + (n == 1 ? "" : "s") + " ago";
    };
    if (age < minutes(1)) {
        return "just now";
    }
    if (age < hours(1)) {
        return count(duration_cast<minutes>(age).count(), "minute");
    }
    if (age < hours(24)) {
        return count(duration_cast<hours>(age).count(), "hour");
    }
    return count(duration_cast<hours>(age).count() / 24, "day");
}

std::string MarkText(const ProxyCheckResult* result, std::chrono::system_clock::time_point now) {
    if (result == nullptr) {
        return "not checked yet";
    }
    std::string text;
    switch (result->state) {
        case ProxyState::kAlive:
            text = "alive, " + std::to_string(result->latencyMs) + " ms, ";
            text += result->grade == ProxyGrade::kNone ? std::string_view("not graded")
                                                       : GradeText(result->grade);
            text += result->https ? ", HTTPS yes" : ", HTTPS no";
            break;
        case ProxyState::kDead:
            text = "dead";
            break;
        case ProxyState::kBad:
            text = "bad: no valid answer";
            break;
    }
    return text + ", checked " + AgeText(ResultAge(*result, now));
}

std::optional<EntryMarks::Rows> EntryMarks::Put(const std::vector<EntryCheck>& checks,
                                                std::size_t rows) {
    m_results.resize(rows);
    std::optional<Rows> span;
    for (const EntryCheck& check : checks) {
        if (check.row >= rows) {
            continue;
        }
        m_results[check.row] = check.result;
        span = span ? Rows{std::min(span->first, check.row), std::max(span->last, check.row)}
                    : Rows{check.row, check.row};
    }
    return span;
}

const ProxyCheckResult* EntryMarks::At(std::size_t row) const {
    return row < m_results.size() && m_results[row] ? &*m_results[row] : nullptr;
}
