#include "content_filter.h"

#include <new>

namespace {

// Replaces every occurrence of `found`, left to right, never searching the
// inserted text again. Returns the number of replacements.
int ReplaceAll(std::string& text, std::string_view found, std::string_view replacement) {
    int count = 0;
    for (std::size_t at = text.find(found); at != std::string::npos;
         at = text.find(found, at + found.size())) {
        ++count;
    }
    if (count == 0) {
        return 0;
    }
    std::string out;
    out.reserve(text.size() + static_cast<std::size_t>(count) * replacement.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(found); at != std::string::npos; at = text.find(found, from)) {
        out.append(text, from, at - from);
        out.append(replacement);
        from = at + found.size();
    }
    out.append(text, from, std::string::npos);
    text.swap(out);
    return count;
}

constexpr std::string_view kPopupCall = "window.open";

}  // namespace

FilterRules FilterRules::Read(FilterSwitches& switches) {
    FilterRules rules;
    rules.scripts = switches.enableJS.Get() == 1;
    rules.objects = switches.enableActiveX.Get() == 1;
    rules.popups = switches.blockPopups.Get() == 1;
    return rules;
}

int ApplyFilterRules(std::string& text, FilterRules rules) {
    if (rules.scripts) {
        ReplaceAll(text, "<script", "<noscript");
        ReplaceAll(text, "</script>", "</noscript> ");
    }
    if (rules.objects) {
        ReplaceAll(text, "<object", "<noobj ");
        ReplaceAll(text, "</object>", "</noobj> ");
    }
    if (rules.popups && text.find(kPopupCall) != std::string::npos) {
        ReplaceAll(text, "<script", "<noscript");
        ReplaceAll(text, "</script>", "</noscript> ");
        return ReplaceAll(text, kPopupCall, "//ndow.open");
    }
    return 0;
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
