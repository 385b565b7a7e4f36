// The list check in the background while the program runs, and how the
// Settings page's list marks what it found.
//
// One check at a time runs on a thread of its own; what it finds reaches
// the window's thread through the window's post, one result at a time, and
// its end after the last. A new check stops the one running, and so does
// the owner's end: neither waits for more than CheckProxies takes to return
// on a stop.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "proxy_check_file.h"
#include "window_post.h"

class ProxyListCheck {
public:
    // Both run on the window's thread, and never after the check was
    // replaced by a new one or its owner has gone.
    struct Receiver {
        std::function<void(const ProxyCheckResult&)> result;
        std::function<void(ProxyCheckRun::Outcome)> end;
    };

    // No post: nothing is checked (nobody would see it).
    ProxyListCheck(std::shared_ptr<IWindowPost> post, ProxyCheckOptions options);
    ~ProxyListCheck();
    ProxyListCheck(const ProxyListCheck&) = delete;
    ProxyListCheck& operator=(const ProxyListCheck&) = delete;

    // On the window's thread.
    void Start(std::vector<std::string> endpoints, Receiver receiver);
    void Stop();

private:
    std::shared_ptr<IWindowPost> m_post;
    ProxyCheckOptions m_options;
    // Posts of the running check carry it weakly: once it goes, they are
    // dropped.
    std::shared_ptr<const Receiver> m_receiver;
    std::jthread m_worker;
};

// The marks of the list. Live entries by grade (ungraded: the judge did not
// tell this machine's own address); dead and bad ones apart.
enum class EntryMarkKind { kUnchecked, kElite, kAnonymous, kTransparent, kUngraded, kDead, kBad };

// Results older than this are shown as stale.
inline constexpr std::chrono::hours kStaleAfter{24};

EntryMarkKind MarkKind(const ProxyCheckResult* result);
bool IsStale(const ProxyCheckResult& result, std::chrono::system_clock::time_point now);
// What the list's tooltip and accessible description say of an entry:
// "alive, 120 ms, elite, HTTPS yes, checked 2 minutes ago", "dead, checked
// 3 days ago", "bad: no valid answer, checked just now", "not checked yet".
std::string MarkText(const ProxyCheckResult* result, std::chrono::system_clock::time_point now);
// "just now", "1 minute ago", "5 hours ago", "3 days ago".
std::string AgeText(std::chrono::seconds age);

// The latest check of the entry in this row of the list.
struct EntryCheck {
    std::size_t row = 0;
    ProxyCheckResult result;
};

// The results a list view marks its rows by.
class EntryMarks {
public:
    struct Rows {
        std::size_t first, last;
    };
    // None is marked any more.
    void Clear() { m_results.clear(); }
    // Takes the checks of rows below `rows`; the rows they span, to draw
    // again (nothing when none was taken).
    std::optional<Rows> Put(const std::vector<EntryCheck>& checks, std::size_t rows);
    // Nothing when the row is not marked.
    const ProxyCheckResult* At(std::size_t row) const;

private:
    std::vector<std::optional<ProxyCheckResult>> m_results;
};
