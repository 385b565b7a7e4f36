// The seven rules, their switches and the chunk-level filter.
#include <gtest/gtest.h>

#include <string>

#include "content_filter.h"
#include "content_filter_reference.h"
#include "fake_filter_switches.h"

namespace {

using namespace std::string_literals;

using Switches = FakeFilterSwitches;

std::string Filtered(const std::string& chunk, Switches switches, int* popups = nullptr) {
    CContentFilter filter(chunk.data(), static_cast<int>(chunk.size()), switches.Get());
    EXPECT_EQ(filter.Filter(), 1);
    if (popups != nullptr) {
        *popups = filter.PopupsRewritten();
    }
    return filter.Text();
}

TEST(ContentFilter, ScriptRulesGrowTheTextByFivePerElement) {
    const std::string page = "<p><script>a()</script><script src=x></script></p>";
    const std::string out = Filtered(page, Switches(1, 0, 0));
    EXPECT_EQ(out, "<p><noscript>a()</noscript> <noscript src=x></noscript> </p>");
    EXPECT_EQ(out.size(), page.size() + 10);
    // Case-sensitive: upper-case tags stay.
    EXPECT_EQ(Filtered("<SCRIPT>x</SCRIPT>", Switches(1, 0, 0)), "<SCRIPT>x</SCRIPT>");
    // Switched off, or set to anything but 1: nothing happens.
    EXPECT_EQ(Filtered(page, Switches(0, 1, 0)), page);
    EXPECT_EQ(Filtered(page, Switches(2, 2, 2)), page);
}

TEST(ContentFilter, ObjectRulesKeepTheLength) {
    const std::string page = "<object data=a></object>";
    const std::string out = Filtered(page, Switches(0, 1, 0));
    EXPECT_EQ(out, "<noobj  data=a></noobj> ");
    EXPECT_EQ(out.size(), page.size());
}

TEST(ContentFilter, PopupRulesOnlyWhenTheTextCallsWindowOpen) {
    int popups = 0;
    EXPECT_EQ(
        Filtered("<script>window.open('x');window.open('y')</script>", Switches(0, 0, 1), &popups),
        "<noscript>//ndow.open('x');//ndow.open('y')</noscript> ");
    EXPECT_EQ(popups, 2);
    EXPECT_EQ(Filtered("<script>alert(1)</script>", Switches(0, 0, 1), &popups),
              "<script>alert(1)</script>");
    EXPECT_EQ(popups, 0);
    // With the script rules already applied, the pop-up rules find no tags.
    EXPECT_EQ(Filtered("<script>window.open()</script>", Switches(1, 1, 1)),
              "<noscript>//ndow.open()</noscript> ");
}

TEST(ContentFilter, ReplacementIsNeverSearchedAgain) {
    // "<noscript" holds no "<script"; overlapping finds are not double counted.
    EXPECT_EQ(Filtered("<script<script", Switches(1, 0, 0)), "<noscript<noscript");
    EXPECT_EQ(Filtered("window.openwindow.open", Switches(0, 0, 1)), "//ndow.open//ndow.open");
}

TEST(ContentFilter, WorkingTextEndsAtTheFirstZeroByte) {
    Switches on(1, 1, 1);
    const std::string chunk = "<script>\0<script>"s;
    CContentFilter filter(chunk.data(), static_cast<int>(chunk.size()), on.Get());
    EXPECT_EQ(filter.Filter(), 1);
    EXPECT_EQ(filter.Text(), "<noscript>");

    const std::string zeroFirst = "\0<script>"s;
    CContentFilter empty(zeroFirst.data(), static_cast<int>(zeroFirst.size()), on.Get());
    EXPECT_EQ(empty.Filter(), 1);
    EXPECT_EQ(empty.Text(), "");

    CContentFilter none(nullptr, 5, on.Get());
    EXPECT_EQ(none.Filter(), 0);
    CContentFilter zeroLength(chunk.data(), 0, on.Get());
    EXPECT_EQ(zeroLength.Filter(), 0);
}

TEST(ContentFilter, BodyRulesKeepZeroBytes) {
    std::string body = "<script>\0window.open\0"s;
    EXPECT_EQ(ApplyFilterRules(body, FilterRules{false, false, true}), 1);
    EXPECT_EQ(body, "<noscript>\0//ndow.open\0"s);
}

}  // namespace

namespace {

TEST(ContentFilter, OnePassGivesWhatTheSevenPassesGive) {
    // Random texts made of the found texts, their pieces and near misses.
    const char* const pieces[] = {"<script", "</script>", "<object",   "</object>", "window.open",
                                  "<scr",    "ipt>",      "</",        "<",         "w",
                                  "window.", "open",      "<noscript", "x",         "\0",
                                  "</obj",   "ect>",      "ww",        "<<",        "wwindow.open"};
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(next() % 12);
        for (int i = 0; i < count; ++i) {
            const char* piece = pieces[next() % std::size(pieces)];
            text += piece[0] == '\0' ? std::string(1, '\0') : std::string(piece);
        }
        const FilterRules rules{next() % 2 == 0, next() % 2 == 0, next() % 2 == 0};
        std::string expected = text;
        const int expectedPopups = ApplyFilterRulesInSevenPasses(expected, rules);
        std::string actual = text;
        EXPECT_EQ(ApplyFilterRules(actual, rules), expectedPopups) << testing::PrintToString(text);
        EXPECT_EQ(actual, expected) << testing::PrintToString(text) << " " << rules.scripts
                                    << rules.objects << rules.popups;

        // The front of a text that goes on, rewritten in a second buffer or
        // in place behind something kept, gives the same.
        const std::size_t limit = text.empty() ? 0 : next() % (text.size() + 1);
        std::string front;
        int popups = 0;
        const std::size_t used = FilterFront(text, limit, rules, front, popups);
        std::string inPlace = "kept" + text;
        int inPlacePopups = 0;
        std::size_t written = 0;
        EXPECT_EQ(FilterFrontInPlace(inPlace, 4, limit, rules, written, inPlacePopups), used);
        EXPECT_EQ(inPlacePopups, popups);
        EXPECT_EQ(inPlace, "kept" + front + text.substr(used)) << testing::PrintToString(text);
        EXPECT_EQ(written, front.size());
        EXPECT_GE(used, limit);
    }
}

}  // namespace
