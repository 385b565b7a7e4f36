// The parsers behind the benchmark's figures: a parser that is too lenient
// would let failed connections count as held, or misread the memory.
#include "bench_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using bench::CheckResponse;
using bench::ResponseState;

const std::string kBody(1024, 'x');
const std::string kResponse =
    "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 1024\r\nConnection: keep-alive\r\n\r\n" +
    kBody;

TEST(ParseNumber, TakesPlainDecimalsWithinTheRange) {
    EXPECT_EQ(bench::ParseNumber("0", 0, 10), 0);
    EXPECT_EQ(bench::ParseNumber("10", 0, 10), 10);
    EXPECT_EQ(bench::ParseNumber("4194304", 1, 1L << 30), 4194304);
    EXPECT_FALSE(bench::ParseNumber("11", 0, 10));
    EXPECT_FALSE(bench::ParseNumber("0", 1, 10));
}

TEST(ParseNumber, RefusesAnythingButDigits) {
    for (const char* text :
         {"", "-1", "+1", " 1", "1 ", "1x", "0x10", "1.0", "99999999999999999999"}) {
        EXPECT_FALSE(bench::ParseNumber(text, 0, 1L << 40)) << '"' << text << '"';
    }
}

TEST(ParsePort, CoversTheWholePortRangeAndNoMore) {
    EXPECT_EQ(bench::ParsePort("0"), 0);
    EXPECT_EQ(bench::ParsePort("65535"), 65535);
    EXPECT_FALSE(bench::ParsePort("65536"));
    EXPECT_FALSE(bench::ParsePort("80x"));
}

TEST(ParseHostPort, SplitsAtTheLastColon) {
    auto hp = bench::ParseHostPort("127.0.0.1:3128");
    ASSERT_TRUE(hp);
    EXPECT_EQ(hp->host, "127.0.0.1");
    EXPECT_EQ(hp->port, 3128);
    auto named = bench::ParseHostPort("localhost:1");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->host, "localhost");
}

TEST(ParseHostPort, NeedsAHostAndAUsablePort) {
    for (const char* text :
         {"127.0.0.1", ":80", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:80 "}) {
        EXPECT_FALSE(bench::ParseHostPort(text)) << '"' << text << '"';
    }
}

TEST(CheckResponse, EveryShortPrefixIsIncompleteAndTheWholeIsComplete) {
    // The receive may split anywhere, including inside the head's last CRLF.
    for (std::size_t n = 0; n < kResponse.size(); ++n) {
        ASSERT_EQ(CheckResponse(std::string_view(kResponse).substr(0, n)),
                  ResponseState::kIncomplete)
            << "prefix of " << n;
    }
    EXPECT_EQ(CheckResponse(kResponse), ResponseState::kComplete);
}

TEST(CheckResponse, BytesPastTheBodyMakeItUnusable) {
    EXPECT_EQ(CheckResponse(kResponse + "H"), ResponseState::kUnusable);
}

TEST(CheckResponse, HeaderNamesAreCaseInsensitiveAndValuesTrimmed) {
    EXPECT_EQ(CheckResponse("HTTP/1.0 200 OK\r\ncontent-LENGTH:\t 2 \r\n\r\nok"),
              ResponseState::kComplete);
    EXPECT_EQ(CheckResponse("HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n"), ResponseState::kComplete);
}

TEST(CheckResponse, OnlyA200IsUsable) {
    for (const char* status :
         {"HTTP/1.1 404 Not Found", "HTTP/1.1 502 Bad Gateway", "HTTP/1.1 2000", "HTTP/2 200 OK",
          "HTTP/1.1 201 Created", "garbage"}) {
        std::string response = std::string(status) + "\r\nContent-Length: 0\r\n\r\n";
        EXPECT_EQ(CheckResponse(response), ResponseState::kUnusable) << status;
    }
}

TEST(CheckResponse, BodiesNotFramedByContentLengthAreUnusable) {
    // Neither lets the connection be held for a next request.
    EXPECT_EQ(CheckResponse("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nabc"),
              ResponseState::kUnusable);
    EXPECT_EQ(
        CheckResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
                      "abc"),
        ResponseState::kUnusable);
    EXPECT_EQ(
        CheckResponse("HTTP/1.1 200 OK\r\ncontent-length: 3\r\ntransfer-encoding: chunked\r\n\r\n"
                      "abc"),
        ResponseState::kUnusable);
}

TEST(CheckResponse, MalformedOrConflictingLengthsAreUnusable) {
    EXPECT_EQ(CheckResponse("HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\nabc"),
              ResponseState::kUnusable);
    EXPECT_EQ(CheckResponse("HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\n"),
              ResponseState::kUnusable);
    EXPECT_EQ(CheckResponse("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabc"),
              ResponseState::kUnusable);
    EXPECT_EQ(CheckResponse("HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 0\r\n\r\n"),
              ResponseState::kUnusable);
}

TEST(CheckResponse, AnEndlessHeadIsGivenUp) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() < 20000) {
        head += "X-Filler: 0123456789\r\n";
    }
    EXPECT_EQ(CheckResponse(head), ResponseState::kUnusable);
}

TEST(ParseVmRssKiB, ReadsTheFigureFromProcStatus) {
    const std::string status =
        "Name:\tengine_runner\nVmPeak:\t  300000 kB\nVmHWM:\t    9000 kB\nVmRSS:\t    4321 kB\n"
        "RssAnon:\t    1000 kB\nThreads:\t3\n";
    EXPECT_EQ(bench::ParseVmRssKiB(status), 4321);
    EXPECT_EQ(bench::ParseVmRssKiB("VmRSS:\t12 kB"), 12);  // no final newline
}

TEST(ParseVmRssKiB, OnlyTheLineThatStartsWithTheNameCounts) {
    // The process name is free text and may look like the figure.
    EXPECT_EQ(bench::ParseVmRssKiB("Name:\tVmRSS: 1 kB\nVmRSS:\t    4321 kB\n"), 4321);
}

TEST(ParseVmRssKiB, MissingOrMalformedGivesNothing) {
    EXPECT_FALSE(bench::ParseVmRssKiB("Name:\tx\nVmHWM:\t 9000 kB\n"));  // kernel threads have none
    EXPECT_FALSE(bench::ParseVmRssKiB("VmRSS:\t 12 MB\n"));
    EXPECT_FALSE(bench::ParseVmRssKiB("VmRSS:\t twelve kB\n"));
    EXPECT_FALSE(bench::ParseVmRssKiB("XVmRSS:\t 12 kB\n"));
}

}  // namespace
