#include "kconfig_text.h"

#include <gtest/gtest.h>

namespace {

TEST(KConfigText, ChangesOnlyTheGroupsKeysAndKeepsEveryOtherByte) {
    // Comments, blank lines, CR LF ends, the same key in another group, a
    // second section of the group, a last line without its end.
    const std::string before =
        "# written by hand\r\n"
        "[General]\r\n"
        "ProxyType=3\r\n"
        "\r\n"
        "[Proxy Settings]\r\n"
        "  ProxyType = 4\r\n"
        "; not a key=here\r\n"
        "ftpProxy=ftp://keep 21\r\n"
        "\r\n"
        "[Proxy Settings][$i]\r\n"
        "httpProxy=locked\r\n"
        "[Proxy Settings]\r\n"
        "ProxyType=2\r\n"
        "\r\n"
        "[Other]\r\n"
        "x=1";
    const std::string after = SetKConfigEntries(before, "Proxy Settings",
                                                {{"ProxyType", "1"}, {"httpProxy", "http://h 1"}});
    EXPECT_EQ(after,
              "# written by hand\r\n"
              "[General]\r\n"
              "ProxyType=3\r\n"
              "\r\n"
              "[Proxy Settings]\r\n"
              "ProxyType=1\r\n"
              "; not a key=here\r\n"
              "ftpProxy=ftp://keep 21\r\n"
              "\r\n"
              "[Proxy Settings][$i]\r\n"
              "httpProxy=locked\r\n"
              "[Proxy Settings]\r\n"
              "ProxyType=1\r\n"
              "httpProxy=http://h 1\n"
              "\r\n"
              "[Other]\r\n"
              "x=1");
    // Applying the same entries again changes nothing.
    EXPECT_EQ(SetKConfigEntries(after, "Proxy Settings",
                                {{"ProxyType", "1"}, {"httpProxy", "http://h 1"}}),
              after);
}

TEST(KConfigText, AddsTheGroupWhereItIsMissing) {
    EXPECT_EQ(SetKConfigEntries("", "Proxy Settings", {{"ProxyType", "0"}}),
              "[Proxy Settings]\nProxyType=0\n");
    EXPECT_EQ(SetKConfigEntries("[A]\nk=v", "Proxy Settings", {{"ProxyType", "0"}}),
              "[A]\nk=v\n\n[Proxy Settings]\nProxyType=0\n");
    // A group at the very end without a line end of its own.
    EXPECT_EQ(SetKConfigEntries("[Proxy Settings]", "Proxy Settings", {{"ProxyType", "0"}}),
              "[Proxy Settings]\nProxyType=0\n");
}

TEST(KConfigText, ValuesCannotBreakOutOfTheirLine) {
    const std::string after = SetKConfigEntries("", "G", {{"k", " a\\b\n[Other]\nx=1\r\t\x01 "}});
    EXPECT_EQ(after, "[G]\nk=\\sa\\\\b\\n[Other]\\nx=1\\r\\t\\x01\\s\n");
    EXPECT_EQ(EscapeKConfigValue("http://127.0.0.1 8080"), "http://127.0.0.1 8080");
}

TEST(KConfigText, AGroupTakenOutAndPutBackLeavesTheTextAsItWas) {
    for (const char* before : {
             "",
             "[A]\nk=v\n",
             "[A]\nk=v\n\n",
             "[Proxy Settings]\nProxyType=2",
             "# top\r\n[A]\r\nk=v\r\n\r\n[Proxy Settings]\r\nProxyType=2\r\n\r\n[B]\r\nx=1",
         }) {
        const std::optional<std::string> group = KConfigGroupText(before, "Proxy Settings");
        const std::string edited =
            SetKConfigEntries(before, "Proxy Settings", {{"ProxyType", "1"}, {"NoProxyFor", "a"}});
        EXPECT_EQ(ReplaceKConfigGroup(edited, "Proxy Settings", group), before) << before;
    }
    // A group put back where the text no longer has one goes to the end.
    EXPECT_EQ(ReplaceKConfigGroup("[A]\nk=v", "G", "[G]\nx=1\n"), "[A]\nk=v\n\n[G]\nx=1\n");
}

TEST(KConfigText, ValuesAreReadFromTheGroupAsWritten) {
    const std::string text =
        "[Proxy Settings][$i]\nProxyType=4\n[Proxy Settings]\n#ProxyType=3\n ProxyType = 1 \n"
        "httpProxy=\\shttp://h 1\n[Other]\nProxyType=2\n";
    // The last entry of the group counts, as in KConfig; escapes stay.
    EXPECT_EQ(KConfigValue(text, "Proxy Settings", "ProxyType"), "1");
    EXPECT_EQ(KConfigValue(text, "Proxy Settings", "httpProxy"), "\\shttp://h 1");
    EXPECT_EQ(KConfigValue(text, "Proxy Settings", "NoProxyFor"), std::nullopt);
    EXPECT_EQ(KConfigValue(text, "Missing", "ProxyType"), std::nullopt);
}

}  // namespace
