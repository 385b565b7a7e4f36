// The content filter's one pass against the seven passes of its definition,
// for every combination of switches; the front of a text rewritten into a
// second buffer and in place; and the chunk-level filter that cuts its text
// at the first zero byte.
#include <string>

#include "content_filter.h"
#include "content_filter_reference.h"
#include "fake_filter_switches.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::string_view text = AsText(data + 1, size - 1);
    const FilterRules rules{(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0};

    std::string expected(text);
    const int expectedPopups = ApplyFilterRulesInSevenPasses(expected, rules);
    std::string actual(text);
    FUZZ_CHECK(ApplyFilterRules(actual, rules) == expectedPopups);
    FUZZ_CHECK(actual == expected);

    // A front that ends where the flags say, rewritten both ways.
    const std::size_t limit = text.empty() ? 0 : (flags >> 3) * text.size() / 31;
    std::string front;
    int popups = 0;
    const std::size_t used = FilterFront(text, limit, rules, front, popups);
    FUZZ_CHECK(used >= limit && used <= text.size());
    std::string inPlace = "kept" + std::string(text);
    int inPlacePopups = 0;
    std::size_t written = 0;
    FUZZ_CHECK(FilterFrontInPlace(inPlace, 4, limit, rules, written, inPlacePopups) == used);
    FUZZ_CHECK(written == front.size() && inPlacePopups == popups);
    FUZZ_CHECK(inPlace == "kept" + front + std::string(text.substr(used)));

    FakeFilterSwitches switches(rules.scripts, rules.objects, rules.popups);
    CContentFilter chunk(text.data(), static_cast<int>(text.size()), switches.Get());
    FUZZ_CHECK(chunk.Filter() == (text.empty() ? 0 : 1));
    if (!text.empty()) {
        std::string working(text.substr(0, text.find('\0')));
        FUZZ_CHECK(chunk.PopupsRewritten() == ApplyFilterRulesInSevenPasses(working, rules));
        FUZZ_CHECK(chunk.Text() == working);
    }
    return 0;
}
