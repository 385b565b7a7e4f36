// The list check's results beside the list: "proxycheck.txt" in the
// application folder, one line per entry, tab-separated:
//   endpoint  state  latency  grade  HTTPS  checked
// as quillon-probe prints them (FormatResultFields) and the time of the
// check in UTC ("2026-12-10T17:25:41Z"). Lines end in CR LF; a reader takes
// LF alone too and passes over lines it cannot read.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "list_file.h"
#include "proxy_check.h"

inline constexpr const char* kProxyCheckFileName = "proxycheck.txt";

// The latest result of each endpoint text, in the order they first came.
class ProxyCheckTable {
public:
    // Nothing when the endpoint has not been checked.
    const ProxyCheckResult* Find(std::string_view endpoint) const;
    // Replaces the endpoint's result, or adds it.
    void Put(const ProxyCheckResult& result);
    const std::vector<ProxyCheckResult>& All() const { return m_results; }
    std::size_t Size() const { return m_results.size(); }

private:
    std::vector<ProxyCheckResult> m_results;
    std::unordered_map<std::string, std::size_t> m_positions;
};

std::string FormatProxyCheckFile(const ProxyCheckTable& table);
// Later lines for the same endpoint replace earlier ones.
ProxyCheckTable ParseProxyCheckFile(std::string_view bytes);

// The file in the AppPath folder (a folder ending with a separator, or
// empty for the current one). Reading a file that is not there gives an
// empty table and FileError::FileNotFound; writing replaces the file whole
// or leaves it as it was.
FileError ReadProxyCheckFile(std::string_view appPath, ProxyCheckTable& table);
FileError WriteProxyCheckFile(std::string_view appPath, const ProxyCheckTable& table);

// "2026-12-10T17:25:41Z", and back; nothing for any other text.
std::string UtcText(std::chrono::system_clock::time_point time);
std::optional<std::chrono::system_clock::time_point> ParseUtcText(std::string_view text);

// How long ago the result was taken (never below zero: a clock set back
// makes it fresh, not older than old).
std::chrono::seconds ResultAge(const ProxyCheckResult& result,
                               std::chrono::system_clock::time_point now);

// The same proxy on the wire: host names compare without case, ports by the
// 16 bits that are sent.
bool SameProxy(std::string_view a, std::string_view b);

// The entry to fail over to: the best live one, elite before anonymous, then
// the lowest latency, then the earlier in the table; never a transparent,
// ungraded, dead or bad one, nor `current` (the same host, case ignored, and
// port). Nothing when there is none. To go by the current list or by age,
// give a table of only those results.
std::optional<std::string> BestEntry(const ProxyCheckTable& table, std::string_view current);
