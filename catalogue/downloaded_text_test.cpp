// What a download's body becomes, and the diagnostic line it leaves.
#include "downloaded_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

// Fed a byte at a time, as the worst split of the blocks would, and whole.
std::string Lines(const std::string& body) {
    DownloadedText pieces;
    for (char c : body) {
        EXPECT_TRUE(pieces.Append(&c, 1));
    }
    DownloadedText whole;
    EXPECT_TRUE(whole.Append(body.data(), body.size()));
    EXPECT_EQ(pieces.Text(), whole.Text());
    return whole.Take();
}

TEST(DownloadedTextTest, OnlyLinesThatCanBeAnEndpointAreKept) {
    const std::string longest(255, 'h');
    EXPECT_EQ(Lines("a:1\n" + longest + "\n" + longest + "h\nb:2\n"),
              "a:1\r\n" + longest + "\r\nb:2\r\n");
    // Every byte that is not printable ASCII drops its line; CRs go and a
    // zero byte joins the head of its line to the next line first.
    for (int byte = 1; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        std::string expected = "x"s + c + ":1\r\n";
        if (c == '\r') {
            expected = "x:1\r\n";
        } else if (c == '\n') {
            expected = "x\r\n:1\r\n";
        } else if (byte < 0x20 || byte > 0x7E) {
            expected = "";
        }
        EXPECT_EQ(Lines("a:1\nx"s + c + ":1\nb:2\n"), "a:1\r\n" + expected + "b:2\r\n") << byte;
    }
    EXPECT_EQ(Lines("a:\0\x01\n1\nb\x80:\0x\n2\n"s), "a:1\r\n");
    // A last line without LF stays only while it may be an entry.
    EXPECT_EQ(Lines("a:1\nb:2"), "a:1\r\nb:2");
    EXPECT_EQ(Lines("a:1\nb:\x01"), "a:1\r\n");
    EXPECT_EQ(Lines("a:1\n" + longest + "h"), "a:1\r\n");
}

// The limit is on the body, not on what is kept of it: garbage is refused
// as soon as a list would be.
TEST(DownloadedTextTest, ABodyOverTheLimitIsRefusedWhateverIsKept) {
    DownloadedText text;
    ASSERT_TRUE(text.Append("a:1\n", 4));
    const std::string garbage(1 << 20, '\x01');
    std::size_t fed = 4;
    while (fed + garbage.size() <= DownloadedText::kMaximumSize) {
        ASSERT_TRUE(text.Append(garbage.data(), garbage.size()));
        fed += garbage.size();
    }
    EXPECT_TRUE(text.Append(garbage.data(), DownloadedText::kMaximumSize - fed));
    EXPECT_FALSE(text.Append("\n", 1));
    EXPECT_EQ(text.Text(), "a:1\r\n");
}

TEST(DownloadDiagnosticTest, ALongTextIsCutWithItsLengthStated) {
    EXPECT_EQ(DownloadDiagnostic(""), "\nContent \n");
    const std::string full(kDiagnosticLength, 'a');
    EXPECT_EQ(DownloadDiagnostic(full), "\nContent " + full + "\n");
    EXPECT_EQ(DownloadDiagnostic(full + "b"),
              "\nContent " + full + "\n[cut after 4096 of 4097 bytes]\n");
    const std::string line = DownloadDiagnostic(std::string(15 << 20, 'c'));
    EXPECT_LT(line.size(), kDiagnosticLength + 64);
    EXPECT_NE(line.find("of 15728640 bytes"), std::string::npos);
}

}  // namespace
