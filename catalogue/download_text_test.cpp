#include "download_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "catalogue_test_support.h"
#include "downloaded_text.h"
#include "vendor_url.h"

namespace {

using namespace std::string_literals;

std::string Download(VendorServer& server, const std::string& body) {
    server.AnswerBody("/body", body);
    return DownloadText(server.BaseUrl() + "/body");
}

TEST(DownloadTextTest, EveryLineEndsInCrLfWhateverTheServerUsed) {
    VendorServer server;
    EXPECT_EQ(Download(server, "a:1\nb:2\n"), "a:1\r\nb:2\r\n");
    EXPECT_EQ(Download(server, "a:1\r\nb:2\r\n"), "a:1\r\nb:2\r\n");
    // Stray CRs go, a last line without LF ends the text, empty lines stay.
    EXPECT_EQ(Download(server, "a:\r1\r\n\nb:2"), "a:1\r\n\r\nb:2");
}

TEST(DownloadTextTest, AZeroByteJoinsTheHeadOfItsLineToTheNextLine) {
    VendorServer server;
    EXPECT_EQ(Download(server, "a:1\nb:\0junk\nc:3\n"s), "a:1\r\nb:c:3\r\n");
}

TEST(DownloadTextTest, SendsOneHttp10GetWithTheApplicationsName) {
    VendorServer server;
    Download(server, "a:1\n");
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string head = server.Requests()[0];
    EXPECT_EQ(head.rfind("GET /body HTTP/1.0\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nUser-Agent: catalogue_tests\r\n"), std::string::npos) << head;
}

TEST(DownloadTextTest, ErrorStatusEmptyBodyAndNoServerAreAllEmpty) {
    VendorServer server;
    server.Answer("/missing", "HTTP/1.1 404 Not Found\r\nContent-Length: 8\r\n\r\nx:1\nx:2\n");
    server.Answer("/broken", "HTTP/1.0 500 Internal Server Error\r\n\r\ny:1\n");
    EXPECT_EQ(DownloadText(server.BaseUrl() + "/missing"), "");
    EXPECT_EQ(DownloadText(server.BaseUrl() + "/broken"), "");
    EXPECT_EQ(Download(server, ""), "");

    const std::string closed = "http://127.0.0.1:" + std::to_string(testsupport::FreePort());
    EXPECT_EQ(DownloadText(closed + "/body"), "");
}

TEST(DownloadTextTest, BodyWithoutLengthEndsWithTheConnection) {
    VendorServer server;
    server.Answer("/old", "HTTP/1.0 200 OK\r\n\r\nold:1\nold:2\n");
    EXPECT_EQ(DownloadText(server.BaseUrl() + "/old"), "old:1\r\nold:2\r\n");
}

TEST(DownloadTextTest, ATricklingServerFailsOnceTheTimeIsUp) {
    using namespace std::chrono_literals;
    VendorServer server;
    std::string list;
    for (int i = 10; i < 30; ++i) {
        list += "10.0.0." + std::to_string(i) + ":80\n";
    }
    server.AnswerBody("/list", list);
    server.Trickle(50);  // some twelve seconds for the whole list
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadTextWithin(server.BaseUrl() + "/list", {15s, 1500ms}, {}), "");
    // Generous slack: only the bound is checked.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms + 5s);
}

TEST(DownloadTextTest, VendorUrlFollowsTheEnvironment) {
    VendorServer server;
    EXPECT_EQ(VendorUrl(kProxyListUrlPath),
              server.BaseUrl() + "/licensing/ProxyGenerator/proxylist.txt");
}

TEST(DownloadedTextTest, LineEndsAndZeroBytesSpanBlockBoundaries) {
    DownloadedText text;
    const std::string body = "a:1\r\nb:\0x"s + "y\nc:3\r"s + "\nd:4"s;
    // Fed a byte at a time, as the worst split of the blocks would.
    for (char c : body) {
        ASSERT_TRUE(text.Append(&c, 1));
    }
    EXPECT_EQ(text.Text(), "a:1\r\nb:c:3\r\nd:4");
}

TEST(DownloadedTextTest, RefusesAnOverlargeBody) {
    DownloadedText text;
    const std::string block(1 << 20, 'x');
    bool ok = true;
    for (std::size_t i = 0; ok && i <= DownloadedText::kMaximumSize / block.size(); ++i) {
        ok = text.Append(block.data(), block.size());
    }
    EXPECT_FALSE(ok);
}

}  // namespace
