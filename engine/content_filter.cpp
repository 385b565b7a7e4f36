#include "content_filter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kPopupCall = "window.open";

struct Rule {
    std::string_view found;
    std::string_view replacement;
};
constexpr Rule kScriptOpen{"<script", "<noscript"};
constexpr Rule kScriptClose{"</script>", "</noscript> "};
constexpr Rule kObjectOpen{"<object", "<noobj "};
constexpr Rule kObjectClose{"</object>", "</noobj> "};
constexpr Rule kPopup{kPopupCall, "//ndow.open"};

std::size_t Find(std::string_view text, char c, std::size_t from) {
    return from >= text.size() ? std::string_view::npos : text.find(c, from);
}

// The rules replace, one after the other, every occurrence of their text,
// left to right and never inside what an earlier replacement inserted. No
// found text overlaps another or can be made by a replacement, so one pass
// that tries the rules in their order at every position gives the same text
// as seven passes, in a fraction of the time. Rules 5 and 6 repeat rules 1
// and 2 for texts that call window.open.
//
// Calls found(at, rule) for each found text starting before `limit`, in
// order; returns how many bytes of `in` the front stands for.
template <class Found>
std::size_t ScanFront(std::string_view in, std::size_t limit, FilterRules rules, Found&& found) {
    limit = std::min(limit, in.size());
    const std::size_t call = rules.popups ? in.find(kPopupCall) : std::string_view::npos;
    const bool popups = call != std::string_view::npos && call < limit;
    const bool scripts = rules.scripts || popups;
    const bool objects = rules.objects;
    std::size_t end = 0;  // just past the last found text
    if (scripts || objects) {
        // Every found text starts with '<', or with 'w' for the pop-up call.
        std::size_t nextTag = Find(in, '<', 0);
        std::size_t nextCall = popups ? call : std::string_view::npos;
        for (;;) {
            const std::size_t at = std::min(nextTag, nextCall);
            if (at >= limit) {
                break;
            }
            const std::string_view rest = in.substr(at);
            const Rule* rule = nullptr;
            if (at == nextCall) {
                rule = rest.starts_with(kPopup.found) ? &kPopup : nullptr;
            } else if (scripts && rest.starts_with(kScriptOpen.found)) {
                rule = &kScriptOpen;
            } else if (scripts && rest.starts_with(kScriptClose.found)) {
                rule = &kScriptClose;
            } else if (objects && rest.starts_with(kObjectOpen.found)) {
                rule = &kObjectOpen;
            } else if (objects && rest.starts_with(kObjectClose.found)) {
                rule = &kObjectClose;
            }
            std::size_t next = at + 1;
            if (rule != nullptr) {
                found(at, *rule);
                end = next = at + rule->found.size();
            }
            if (nextTag < next) {
                nextTag = Find(in, '<', next);
            }
            if (nextCall < next) {
                nextCall = Find(in, 'w', next);
            }
        }
    }
    return std::max(end, limit);
}

}  // namespace

FilterRules FilterRules::Read(FilterSwitches& switches) {
    FilterRules rules;
    rules.scripts = switches.enableJS.Get() == 1;
    rules.objects = switches.enableActiveX.Get() == 1;
    rules.popups = switches.blockPopups.Get() == 1;
    return rules;
}

std::size_t FilterFront(std::string_view in, std::size_t limit, FilterRules rules, std::string& out,
                        int& popupCount) {
    std::size_t copied = 0;
    const std::size_t used = ScanFront(in, limit, rules, [&](std::size_t at, const Rule& rule) {
        out.append(in.substr(copied, at - copied));
        out.append(rule.replacement);
        copied = at + rule.found.size();
        popupCount += &rule == &kPopup ? 1 : 0;
    });
    out.append(in.substr(copied, used - copied));
    return used;
}

std::size_t FilterFrontInPlace(std::string& text, std::size_t offset, std::size_t limit,
                               FilterRules rules, std::size_t& written, int& popupCount) {
    // Where the found texts are; kept for the thread, so that windows after
    // the first allocate nothing.
    thread_local std::vector<std::pair<std::size_t, const Rule*>> found;
    found.clear();
    std::size_t growth = 0;
    const std::string_view in = std::string_view(text).substr(offset);
    const std::size_t used = ScanFront(in, limit, rules, [&](std::size_t at, const Rule& rule) {
        found.emplace_back(offset + at, &rule);
        growth += rule.replacement.size() - rule.found.size();  // none shrinks
        popupCount += &rule == &kPopup ? 1 : 0;
    });
    written = used + growth;
    if (growth != 0) {
        // The rest moves back; then the front is rewritten from its end, so
        // that nothing is overwritten before it has been moved.
        const std::size_t size = text.size();
        text.resize(size + growth);
        char* const base = text.data();
        std::memmove(base + offset + used + growth, base + offset + used, size - offset - used);
        std::size_t source = offset + used;
        std::size_t target = source + growth;
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            const auto& [at, rule] = *it;
            const std::size_t after = at + rule->found.size();
            target -= source - after;
            if (target != after) {
                std::memmove(base + target, base + after, source - after);
            }
            target -= rule->replacement.size();
            std::memcpy(base + target, rule->replacement.data(), rule->replacement.size());
            source = at;
        }
    } else {
        for (const auto& [at, rule] : found) {
            std::memcpy(text.data() + at, rule->replacement.data(), rule->replacement.size());
        }
    }
    if (found.capacity() > 4096) {
        found = {};  // a window full of found texts is no reason to keep the room
    }
    return used;
}

int ApplyFilterRules(std::string& text, FilterRules rules) {
    if (!rules.Any()) {
        return 0;
    }
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    int popups = 0;
    FilterFront(text, text.size(), rules, out, popups);
    if (out != text) {
        text.swap(out);
    }
    return popups;
}

CContentFilter::CContentFilter(const char* data, int length, FilterSwitches& switches)
    : m_data(data), m_length(length), m_switches(switches) {}

int CContentFilter::Filter() {
    if (m_data == nullptr || m_length <= 0) {
        return 0;
    }
    try {
        std::string_view chunk(m_data, static_cast<std::size_t>(m_length));
        m_text.assign(chunk.substr(0, chunk.find('\0')));
        m_popups = ApplyFilterRules(m_text, FilterRules::Read(m_switches));
    } catch (const std::bad_alloc&) {
        m_text.clear();
        m_popups = 0;
        return 0;
    }
    return 1;
}
