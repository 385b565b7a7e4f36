#include "proxy_check_file.h"

#include <array>
#include <cstdio>
#include <tuple>

#include "ascii_text.h"
#include "proxy_entries.h"
#include "proxy_switching.h"
#include "text_lines.h"

namespace {

using namespace std::chrono;

constexpr std::size_t kFields = 6;

// The value whose word (StateText, GradeText) the text is.
template <class Value, std::size_t N>
std::optional<Value> Named(std::string_view text, const std::array<std::string_view, N>& words) {
    for (std::size_t i = 0; i < N; ++i) {
        if (words[i] == text) {
            return static_cast<Value>(i);
        }
    }
    return std::nullopt;
}

// A number of 1 to 9 digits, nothing else.
std::optional<int> Digits(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<ProxyCheckResult> ParseLine(std::string_view line) {
    std::array<std::string_view, kFields> fields;
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        const std::size_t tab = line.find('\t', start);
        if (count == kFields) {
            return std::nullopt;
        }
        fields[count] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos) {
            break;
        }
        start = tab + 1;
    }
    const auto state = Named<ProxyState>(fields[1], kStateTexts);
    const auto checked = ParseUtcText(fields[5]);
    if (count + 1 != kFields || fields[0].empty() || !IsEntryText(fields[0]) || !state ||
        !checked) {
        return std::nullopt;
    }
    ProxyCheckResult result;
    result.endpoint = fields[0];
    result.state = *state;
    result.checkedAt = *checked;
    if (*state == ProxyState::kAlive) {
        const auto latency = Digits(fields[2]);
        const auto grade = Named<ProxyGrade>(fields[3], kGradeTexts);
        if (!latency || *latency == 0 || !grade || (fields[4] != "yes" && fields[4] != "no")) {
            return std::nullopt;
        }
        result.latencyMs = *latency;
        result.grade = *grade;
        result.https = fields[4] == "yes";
    }
    return result;
}

std::string FilePath(std::string_view appPath) {
    return std::string(appPath) + kProxyCheckFileName;
}

}  // namespace

bool SameProxy(std::string_view a, std::string_view b) {
    const ProxyEndpoint x = ParseProxyEndpoint(std::string(a));
    const ProxyEndpoint y = ParseProxyEndpoint(std::string(b));
    return EqualNoCase(x.host, y.host) &&
           static_cast<std::uint16_t>(x.port) == static_cast<std::uint16_t>(y.port);
}

const ProxyCheckResult* ProxyCheckTable::Find(std::string_view endpoint) const {
    const auto found = m_positions.find(std::string(endpoint));
    return found == m_positions.end() ? nullptr : &m_results[found->second];
}

void ProxyCheckTable::Put(const ProxyCheckResult& result) {
    const auto [at, added] = m_positions.emplace(result.endpoint, m_results.size());
    if (added) {
        m_results.push_back(result);
    } else {
        m_results[at->second] = result;
    }
}

std::string FormatProxyCheckFile(const ProxyCheckTable& table) {
    std::string text;
    for (const ProxyCheckResult& result : table.All()) {
        text.append(FormatResultFields(result))
            .append("\t")
            .append(UtcText(result.checkedAt))
            .append("\r\n");
    }
    return text;
}

ProxyCheckTable ParseProxyCheckFile(std::string_view bytes) {
    ProxyCheckTable table;
    while (!bytes.empty()) {
        if (const std::optional<ProxyCheckResult> result = ParseLine(TakeLine(bytes))) {
            table.Put(*result);
        }
    }
    return table;
}

FileError ReadProxyCheckFile(std::string_view appPath, ProxyCheckTable& table) {
    std::string bytes;
    const FileError error = ReadWholeFile(FilePath(appPath), bytes);
    table = error == FileError::None ? ParseProxyCheckFile(bytes) : ProxyCheckTable();
    return error;
}

FileError WriteProxyCheckFile(std::string_view appPath, const ProxyCheckTable& table) {
    return WriteWholeFile(FilePath(appPath), FormatProxyCheckFile(table));
}

std::string UtcText(system_clock::time_point time) {
    const auto day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(floor<seconds>(time - day));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::optional<system_clock::time_point> ParseUtcText(std::string_view text) {
    // The fixed form only: digits where digits go, the separators in place.
    constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
    if (text.size() != kForm.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == '0' ? !digit : text[i] != kForm[i]) {
            return std::nullopt;
        }
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        return *Digits(text.substr(at, length));
    };
    const year_month_day date{year(number(0, 4)), month(static_cast<unsigned>(number(5, 2))),
                              day(static_cast<unsigned>(number(8, 2)))};
    const int h = number(11, 2), m = number(14, 2), s = number(17, 2);
    if (!date.ok() || h > 23 || m > 59 || s > 59) {
        return std::nullopt;
    }
    return sys_days(date) + hours(h) + minutes(m) + seconds(s);
}

seconds ResultAge(const ProxyCheckResult& result, system_clock::time_point now) {
    return std::max(floor<seconds>(now - result.checkedAt), seconds(0));
}

std::optional<std::string> BestEntry(const ProxyCheckTable& table, std::string_view current) {
    const ProxyCheckResult* best = nullptr;
    // Lower ranks first: elite, then anonymous; then the latency.
    const auto rank = [](const ProxyCheckResult& r) {
        return std::tuple(r.grade == ProxyGrade::kElite ? 0 : 1, r.latencyMs);
    };
    for (const ProxyCheckResult& result : table.All()) {
        const bool usable =
            result.state == ProxyState::kAlive &&
            (result.grade == ProxyGrade::kElite || result.grade == ProxyGrade::kAnonymous) &&
            !SameProxy(result.endpoint, current);
        if (usable && (best == nullptr || rank(result) < rank(*best))) {
            best = &result;
        }
    }
    return best == nullptr ? std::nullopt : std::optional<std::string>(best->endpoint);
}
