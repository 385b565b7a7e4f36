// The filter's rules as their definition reads: seven passes, one
// find/replace each. Slow and obviously right; ApplyFilterRules must give the
// same text and count (checked by the tests and the fuzzer).
#pragma once

#include <string>
#include <string_view>

#include "content_filter.h"

inline int ReplaceEachForReference(std::string& text, std::string_view found,
                                   std::string_view replacement) {
    int count = 0;
    for (std::size_t at = text.find(found); at != std::string::npos;
         at = text.find(found, at + replacement.size())) {
        text.replace(at, found.size(), replacement);
        ++count;
    }
    return count;
}

inline int ApplyFilterRulesInSevenPasses(std::string& text, FilterRules rules) {
    if (rules.scripts) {
        ReplaceEachForReference(text, "<script", "<noscript");
        ReplaceEachForReference(text, "</script>", "</noscript> ");
    }
    if (rules.objects) {
        ReplaceEachForReference(text, "<object", "<noobj ");
        ReplaceEachForReference(text, "</object>", "</noobj> ");
    }
    if (rules.popups && text.find("window.open") != std::string::npos) {
        ReplaceEachForReference(text, "<script", "<noscript");
        ReplaceEachForReference(text, "</script>", "</noscript> ");
        return ReplaceEachForReference(text, "window.open", "//ndow.open");
    }
    return 0;
}
