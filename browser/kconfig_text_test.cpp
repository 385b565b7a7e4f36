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

}  // namespace
