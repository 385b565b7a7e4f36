#include "proxy_entries.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "ansi_text.h"

namespace {

constexpr unsigned char Folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a')
                                : static_cast<unsigned char>(c);
}

bool SameButForCase(std::string_view a, std::string_view b) {
    return !ListedBefore(a, b) && !ListedBefore(b, a);
}

// Keeps the first of each text among texts equal but for case. Such runs
// are almost always one text long; a list made of case variants of one text
// must not take quadratic time.
void KeepFirstOfEach(std::vector<std::string_view>::const_iterator first,
                     std::vector<std::string_view>::const_iterator last,
                     std::vector<std::string_view>& kept) {
    constexpr std::ptrdiff_t kShortRun = 16;
    if (last - first <= kShortRun) {
        const std::size_t start = kept.size();
        for (auto it = first; it != last; ++it) {
            if (std::find(kept.begin() + static_cast<std::ptrdiff_t>(start), kept.end(), *it) ==
                kept.end()) {
                kept.push_back(*it);
            }
        }
        return;
    }
    std::unordered_set<std::string_view> seen;
    for (auto it = first; it != last; ++it) {
        if (seen.insert(*it).second) {
            kept.push_back(*it);
        }
    }
}

}  // namespace

bool IsEntryText(std::string_view line) {
    return line.size() <= kMaximumEntryLength &&
           std::all_of(line.begin(), line.end(), IsEntryCharacter);
}

bool ListedBefore(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Folded(x) < Folded(y); });
}

std::vector<std::string_view> EntryLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsAnsiLeadByte(static_cast<unsigned char>(text[i]))) {
            ++i;  // its second byte is never a line end
        } else if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            const std::string_view line = text.substr(start, i - start);
            if (IsEntryText(line)) {
                lines.push_back(line);
            }
            start = i + 2;
            ++i;
        }
    }
    return lines;
}

ProxyEntries::ProxyEntries() : m_items(std::make_shared<const std::vector<std::string>>()) {}

ProxyEntries::ProxyEntries(std::vector<std::string> items)
    : m_items(std::make_shared<const std::vector<std::string>>(std::move(items))) {}

std::size_t ProxyEntries::Find(std::string_view text) const {
    auto it = std::lower_bound(
        begin(), end(), text,
        [](const std::string& item, std::string_view t) { return ListedBefore(item, t); });
    for (; it != end() && SameButForCase(*it, text); ++it) {
        if (*it == text) {
            return static_cast<std::size_t>(it - begin());
        }
    }
    return Size();
}

ProxyEntries WithEntriesOf(const ProxyEntries& listed, std::string_view text) {
    std::vector<std::string_view> fresh = EntryLines(text);
    if (fresh.empty()) {
        return listed;
    }
    std::stable_sort(fresh.begin(), fresh.end(), ListedBefore);
    // Merged, the listed ones first among equals; then each text once.
    std::vector<std::string_view> all;
    all.reserve(listed.Size() + fresh.size());
    std::merge(listed.begin(), listed.end(), fresh.begin(), fresh.end(), std::back_inserter(all),
               ListedBefore);
    fresh = {};
    std::vector<std::string_view> kept;
    kept.reserve(all.size());
    for (auto run = all.cbegin(); run != all.cend();) {
        auto next = std::next(run);
        while (next != all.cend() && !ListedBefore(*run, *next)) {
            ++next;
        }
        KeepFirstOfEach(run, next, kept);
        run = next;
    }
    if (kept.size() == listed.Size()) {
        return listed;
    }
    return ProxyEntries(std::vector<std::string>(kept.begin(), kept.end()));
}
