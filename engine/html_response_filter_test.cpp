// Responses of one connection through the HTML rewriting, fed in pieces of
// every size: HTML bodies come out rewritten and correctly framed, everything
// else byte for byte.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "content_filter_reference.h"
#include "fake_filter_switches.h"
#include "html_response_filter.h"

namespace {

using namespace std::string_literals;

// What the filter hands to the browser's side.
struct Collect final : IResponseSink {
    void Send(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

class HtmlFilterTest : public testing::Test {
protected:
    void Switch(std::uint32_t js, std::uint32_t activeX, std::uint32_t popups) {
        m_switches.Set(js, activeX, popups);
    }

    // The browser sends `requests`; the upstream answers `responses` in
    // pieces of `piece` bytes, then closes (unless the filter ended the
    // connection first, which `ended` tells).
    std::string Relay(const std::string& requests, const std::string& responses, std::size_t piece,
                      bool* ended = nullptr) {
        HtmlResponseFilter filter(m_switches.Live(), m_counter);
        filter.OnRequestBytes(requests);
        Collect out;
        for (std::size_t at = 0; at < responses.size() && !filter.EndsConnection(); at += piece) {
            filter.OnResponseBytes(std::string_view(responses).substr(at, piece), out);
        }
        if (ended != nullptr) {
            *ended = filter.EndsConnection();
        }
        if (!filter.EndsConnection()) {
            filter.OnResponseEnd(out);
        }
        return out.text;
    }

    // The same output whatever the pieces.
    void ExpectRelayed(const std::string& requests, const std::string& responses,
                       const std::string& expected, bool endsConnection = false) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64},
                                  std::size_t{16384}, responses.size() + 1}) {
            bool ended = false;
            EXPECT_EQ(Relay(requests, responses, piece, &ended), expected) << "pieces of " << piece;
            EXPECT_EQ(ended, endsConnection) << "pieces of " << piece;
        }
    }

    std::uint32_t Popups() { return m_switches.FoldedPopups(*m_counter); }

    FakeFilterSwitches m_switches{0, 0, 0};
    std::shared_ptr<PopupCounter> m_counter = std::make_shared<PopupCounter>();
};

// A rewritten body as the filter sends it to an HTTP/1.1 browser: one chunk
// per window, its size in eight hex digits.
std::string Chunk(const std::string& text) {
    char size[16];
    std::snprintf(size, sizeof size, "%08zx\r\n", text.size());
    return size + text + "\r\n";
}
const std::string kLastChunk = "0\r\n\r\n";

// The 502 that stands in for an answer the filter cannot follow.
std::string Refused(const std::string& reason) {
    return "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(reason.size()) + "\r\nConnection: close\r\n\r\n" + reason;
}
const std::string kHeadTooLong = Refused("Bad Gateway: the server's answer header was too long.\n");
const std::string kUnreadable = Refused("Bad Gateway: the server's answer could not be read.\n");

const std::string kGet = "GET http://o.test/ HTTP/1.1\r\nHost: o.test\r\n\r\n";
const std::string kPage = "<script>window.open('ad')</script>";
const std::string kRewritten = "<noscript>//ndow.open('ad')</noscript> ";

std::string Gzip(const std::string& text) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, text.size()), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    s.avail_in = static_cast<uInt>(text.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

TEST_F(HtmlFilterTest, HtmlBodiesAreRewrittenAsTheyComeWhateverTheirFraming) {
    Switch(0, 0, 1);
    const std::string expected =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
        "Transfer-Encoding: chunked\r\n\r\n" +
        Chunk(kRewritten) + kLastChunk;
    // Content-Length.
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Content-Length: " +
                      std::to_string(kPage.size()) + "\r\n\r\n" + kPage,
                  expected);
    // Chunked, with the token split between two chunks, and a trailer.
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n"
                  "f\r\n<script>window.\r\n13;ext=1\r\nopen('ad')</script>\r\n0\r\nX-T: 1\r\n\r\n",
                  expected);
    // Until the close, as HTTP/1.0 servers do.
    ExpectRelayed(kGet, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + kPage,
                  expected);
    // Compressed: sent decoded.
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Content-Encoding: gzip\r\nContent-Length: " +
                      std::to_string(Gzip(kPage).size()) + "\r\n\r\n" + Gzip(kPage),
                  expected);
    // Each delivered pop-up call is counted once per delivery.
    EXPECT_EQ(Popups(), 4u * 6u);
}

// An HTTP/1.0 browser reads no chunks: the body ends with the close, and so
// does the connection. An HTTP/1.0 server's answer is sent the same way.
TEST_F(HtmlFilterTest, WithoutChunksTheBodyEndsWithTheClose) {
    Switch(1, 0, 0);
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: keep-alive\r\n"
        "Keep-Alive: timeout=5\r\nContent-Length: 8\r\n\r\n<script>";
    const std::string expected =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n<noscript>";
    ExpectRelayed("GET http://o.test/ HTTP/1.0\r\n\r\n" + kGet, answer + answer, expected, true);
    const std::string old =
        "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n<script>";
    ExpectRelayed(kGet, old,
                  "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                  "<noscript>",
                  true);
}

// A rewritten body is not the origin's: its tag turns weak and byte ranges
// go, so that no later validation or range request mixes two bodies. A part
// of a body is never rewritten.
TEST_F(HtmlFilterTest, RewrittenBodiesLoseStrongTagsAndRanges) {
    Switch(1, 0, 0);
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nETag: \"v1\"\r\n"
                  "Accept-Ranges: bytes\r\nContent-Length: 8\r\n\r\n<script>",
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nETag: W/\"v1\"\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n" +
                      Chunk("<noscript>") + kLastChunk);
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nEtag: W/\"v2\"\r\n"
                  "Content-Length: 8\r\n\r\n<script>",
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nEtag: W/\"v2\"\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n" +
                      Chunk("<noscript>") + kLastChunk);
    const std::string part =
        "HTTP/1.1 206 Partial Content\r\nContent-Type: text/html\r\nETag: \"v1\"\r\n"
        "Content-Range: bytes 0-7/90\r\nContent-Length: 8\r\n\r\n<script>";
    ExpectRelayed(kGet, part, part);
}

// Long bodies go in windows: what is held never grows with the page, every
// found text is found wherever the windows and reads cut, and the pop-up
// rules hold within the window that calls window.open.
TEST_F(HtmlFilterTest, LongBodiesAreRewrittenWindowByWindow) {
    Switch(1, 1, 0);
    std::string page;
    for (int i = 0; page.size() < 5 * kFilterWindow; ++i) {
        page += std::string(static_cast<std::size_t>(i % 13), 'x') +
                "<script>a</script><object></object>";
    }
    std::string whole = page;
    ApplyFilterRulesInSevenPasses(whole, FilterRules{true, true, false});
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                 std::to_string(page.size()) + "\r\n\r\n" + page;
    for (std::size_t piece : {std::size_t{1}, std::size_t{4093}, std::size_t{16384}}) {
        const std::string out = Relay(kGet, response, piece);
        const std::size_t body = out.find("\r\n\r\n") + 4;
        std::string decoded;
        std::size_t chunks = 0;
        for (std::size_t at = body; out.compare(at, kLastChunk.size(), kLastChunk) != 0;) {
            const std::size_t size = std::stoul(out.substr(at, 8), nullptr, 16);
            decoded += out.substr(at + 10, size);
            at += 10 + size + 2;
            ++chunks;
        }
        EXPECT_TRUE(decoded == whole) << "pieces of " << piece;
        EXPECT_GE(chunks, 5u);
        EXPECT_TRUE(out.ends_with(kLastChunk));
    }

    // window.open in the second window only: scripts of the first stay.
    Switch(0, 0, 1);
    const std::string first = std::string(kFilterWindow - 20, ' ') + "<script>x</script>";
    const std::string second = std::string(40, ' ') + "<script>window.open()</script>";
    const std::string out =
        Relay(kGet, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + first + second, 100);
    EXPECT_NE(out.find("<script>x</script>"), std::string::npos);
    EXPECT_NE(out.find("<noscript>//ndow.open()</noscript> "), std::string::npos);
}

TEST_F(HtmlFilterTest, EverythingElsePassesByteForByte) {
    Switch(1, 1, 1);
    const std::string image =
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 15\r\n\r\n"
        "\x89PNG\0<script\0\r\n"s;
    ExpectRelayed(kGet, image, image);
    // Codings that cannot be undone stay as they are.
    const std::string brotli =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: br\r\n"
        "Content-Length: 7\r\n\r\n<script";
    ExpectRelayed(kGet, brotli, brotli);
    EXPECT_EQ(Popups(), 0u);
}

// Browsers read on where the filter cannot, and render what it could not
// check: such an answer is replaced by a 502, and the connection ends.
TEST_F(HtmlFilterTest, AnswersThatCannotBeFollowedAreRefused) {
    Switch(1, 0, 0);
    const std::string image =
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 1\r\n\r\nx";
    const std::string page = "Content-Type: text/html\r\n\r\n<script>";
    for (const std::string& answer : {
             "<script>alert(1)</script>\r\n\r\n"s,  // HTTP/0.9, as a browser reads it
             "HTTP/1.1 200 OK\r\nstray line\r\n" + page,
             "HTTP/1.1 200 OK\r\nX-A: a\r\n folded\r\n" + page,
             "HTTP/1.1 200 OK\r\nContent-Length : 8\r\n" + page,
             "HTTP/1.1 OK\r\n" + page,
             "HTTP/1.1 200 OK\r\nContent-Length: 8x\r\n" + page,
         }) {
        ExpectRelayed(kGet + kGet, image + answer, image + kUnreadable, true);
    }
    // A head that the close cuts short.
    ExpectRelayed(kGet + kGet, image + "<script>alert(1)</script>", image + kUnreadable);
    // An answer past a request whose framing could not be followed.
    const std::string html =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n<script>";
    ExpectRelayed("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n" + kGet, html + html,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                  "\r\n" +
                      Chunk("<noscript>") + kLastChunk + kUnreadable,
                  true);
    // With every rule off there is nothing to check: it passes on, as it
    // would without the filter.
    Switch(0, 0, 0);
    const std::string stray = image + "HTTP/1.1 200 OK\r\nstray line\r\n" + page;
    ExpectRelayed(kGet + kGet, stray, stray);
}

// A body that turns out damaged or cut short once its head is gone: the
// browser learns it as from the origin, by a close before the last chunk.
TEST_F(HtmlFilterTest, DamagedOrCutBodiesEndTheConnectionBeforeTheLastChunk) {
    Switch(1, 0, 0);
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n";
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
                  "Content-Length: 7\r\n\r\n<script",
                  head, true);
    std::string gzip = Gzip("<script>" + std::string(40000, 'y'));
    gzip[gzip.size() / 2] ^= 0x55;
    const std::string out =
        Relay(kGet,
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
              "Content-Length: " +
                  std::to_string(gzip.size()) + "\r\n\r\n" + gzip,
              512);
    EXPECT_TRUE(out.starts_with(head)) << out.substr(0, 200);
    EXPECT_FALSE(out.ends_with(kLastChunk));
    // Cut by the close: what came, rewritten, and no last chunk.
    ExpectRelayed(kGet,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 99\r\n\r\n"
                  "<script>",
                  head + Chunk("<noscript>"));
    // Passed on, not rewritten, with a chunk size longer than the filter
    // reads (browsers take it): the next answer's start is lost, so the
    // connection ends before it.
    const std::string image =
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n";
    ExpectRelayed(kGet + kGet,
                  image +
                      "0000000000000000004\r\nabcd\r\n0\r\n\r\n"
                      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<script>",
                  image + std::string(15, '0'), true);
}

TEST_F(HtmlFilterTest, BodilessAnswersKeepTheConnectionInStep) {
    Switch(1, 0, 0);
    const std::string requests =
        "HEAD /a HTTP/1.1\r\nHost: o\r\n\r\n"
        "POST /b HTTP/1.1\r\nHost: o\r\nContent-Length: 26\r\n\r\n"
        "HEAD /fake HTTP/1.1\r\n\r\n.."
        "GET /c HTTP/1.1\r\nHost: o\r\n\r\n"
        "GET /d HTTP/1.1\r\nHost: o\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3\r\nabc\r\n0\r\n\r\n\r\n"  // an empty line after a body, as old browsers sent
        "GET /e HTTP/1.1\r\nHost: o\r\n\r\n";
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 500\r\n\r\n";
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    const std::string noContent = "HTTP/1.1 204 No Content\r\nContent-Type: text/html\r\n\r\n";
    const std::string notModified =
        "HTTP/1.1 304 Not Modified\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n";
    const std::string html =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n"
        "<script>";
    const std::string htmlOut =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" +
        Chunk("<noscript>") + kLastChunk;
    // Empty lines between answers are dropped, as browsers skip them.
    ExpectRelayed(requests, head + interim + noContent + notModified + html + "\r\n\n" + html,
                  head + interim + noContent + notModified + htmlOut + htmlOut);
}

TEST_F(HtmlFilterTest, AnEmptyHtmlBodyGoesOutAtOnceAndTheNextIsRewritten) {
    // On a kept-alive connection nothing follows the head: the browser
    // would wait for the answer until the upstream closes.
    Switch(1, 1, 1);
    const std::string empty =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, empty.size()}) {
        HtmlResponseFilter filter(m_switches.Live(), m_counter);
        filter.OnRequestBytes(kGet + kGet);
        Collect out;
        for (std::size_t at = 0; at < empty.size(); at += piece) {
            filter.OnResponseBytes(std::string_view(empty).substr(at, piece), out);
        }
        EXPECT_EQ(out.text, empty) << "pieces of " << piece;
        out.text.clear();
        filter.OnResponseBytes(
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n<script>", out);
        EXPECT_EQ(out.text,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                  "\r\n" +
                      Chunk("<noscript>") + kLastChunk);
    }
}

// The switches are read at every response head: a connection kept open
// follows a change from its next response on.
TEST_F(HtmlFilterTest, ASwitchTurnedOnReachesTheNextResponseOfAnOpenConnection) {
    HtmlFilterFactory factory(m_switches.Live(), m_counter);
    std::shared_ptr<IConnectionFilter> filter = factory.ForConnection();
    ASSERT_NE(filter, nullptr);  // every switch off, and still a filter
    filter->OnRequestBytes(kGet + kGet + kGet);
    const std::string html =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n<script>";
    Collect out;
    filter->OnResponseBytes(html, out);
    EXPECT_EQ(out.text, html);
    Switch(1, 0, 0);
    out.text.clear();
    filter->OnResponseBytes(html, out);
    EXPECT_NE(out.text.find("<noscript>"), std::string::npos) << out.text;
    Switch(0, 0, 0);
    out.text.clear();
    filter->OnResponseBytes(html, out);
    EXPECT_EQ(out.text, html);
}

TEST_F(HtmlFilterTest, TunnelsPassUntouched) {
    Switch(1, 1, 1);
    const std::string connect = "CONNECT o.test:443 HTTP/1.1\r\nHost: o.test:443\r\n\r\n";
    const std::string tunnel =
        "HTTP/1.1 200 Connection established\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<script>\0"s;
    ExpectRelayed(connect + "\x16\x03\x01"s, tunnel, tunnel);
    // Refused for want of credentials, then asked again on the same
    // connection: the second answer opens the tunnel.
    const std::string refused =
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n"
        "Content-Length: 2\r\n\r\nno";
    ExpectRelayed(connect + connect + "\x16\x03\x01"s, refused + tunnel, refused + tunnel);
}

TEST_F(HtmlFilterTest, HeadsAtTheSizeLimitAreTreatedAlikeHoweverTheReadsCutThem) {
    // Response heads of up to 256 KiB, their empty line included, are
    // followed, and so is the connection after them; a longer one is refused.
    constexpr std::size_t kLimit = 256 * 1024;
    Switch(0, 0, 1);
    const std::string start = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    const std::string length = "Content-Length: " + std::to_string(kPage.size()) + "\r\n\r\n";
    const std::string rewritten =
        "Transfer-Encoding: chunked\r\n\r\n" + Chunk(kRewritten) + kLastChunk;
    auto padded = [&](std::size_t headSize) {
        const std::size_t lines = start.size() + length.size() + std::string("X: \r\n").size();
        return start + "X: " + std::string(headSize - lines, 'p') + "\r\n";
    };
    const std::string response = start + length + kPage;
    ExpectRelayed(kGet + kGet, padded(kLimit) + length + kPage + response,
                  padded(kLimit) + rewritten + start + rewritten);
    ExpectRelayed(kGet, padded(kLimit + 1) + length + kPage, kHeadTooLong, true);

    // Request heads of up to 64 KiB are followed; what answers a longer one
    // cannot be known.
    constexpr std::size_t kRequestLimit = 64 * 1024;
    for (std::size_t requestSize : {kRequestLimit, kRequestLimit + 1}) {
        const std::string request =
            "GET / HTTP/1.1\r\nX: " + std::string(requestSize - 23, 'p') + "\r\n\r\n";
        ASSERT_EQ(request.size(), requestSize);
        std::set<std::string> outputs;
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, requestSize - 2, requestSize}) {
            HtmlResponseFilter filter(m_switches.Live(), m_counter);
            for (std::size_t at = 0; at < request.size(); at += piece) {
                filter.OnRequestBytes(std::string_view(request).substr(at, piece));
            }
            Collect out;
            filter.OnResponseBytes(response, out);
            filter.OnResponseEnd(out);
            outputs.insert(out.text);
        }
        const std::string expected = requestSize == kRequestLimit ? start + rewritten : kUnreadable;
        EXPECT_EQ(outputs, std::set<std::string>{expected}) << requestSize;
    }
}

}  // namespace
