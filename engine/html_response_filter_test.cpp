// Responses of one connection through the HTML rewriting, fed in pieces of
// every size: HTML bodies come out rewritten and correctly framed, everything
// else byte for byte.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

#include "fake_filter_switches.h"
#include "html_response_filter.h"

namespace {

using namespace std::string_literals;

class HtmlFilterTest : public testing::Test {
protected:
    void Switch(std::uint32_t js, std::uint32_t activeX, std::uint32_t popups) {
        m_switches.Set(js, activeX, popups);
    }

    // The browser sends `requests`; the upstream answers `responses` in
    // pieces of `piece` bytes, then closes.
    std::string Relay(const std::string& requests, const std::string& responses, std::size_t piece,
                      std::size_t limit = kFilteredBodyLimit) {
        HtmlResponseFilter filter(m_switches.Get(), m_counter, limit);
        filter.OnRequestBytes(requests);
        std::string out;
        for (std::size_t at = 0; at < responses.size(); at += piece) {
            out += filter.OnResponseBytes(std::string_view(responses).substr(at, piece));
        }
        out += filter.OnResponseEnd();
        return out;
    }

    // The same output whatever the pieces, or the test names the size.
    void ExpectRelayed(const std::string& requests, const std::string& responses,
                       const std::string& expected, std::size_t limit = kFilteredBodyLimit) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64},
                                  responses.size() + 1}) {
            EXPECT_EQ(Relay(requests, responses, piece, limit), expected) << "pieces of " << piece;
        }
    }

    std::uint32_t Popups() { return m_switches.FoldedPopups(*m_counter); }

    FakeFilterSwitches m_switches{0, 0, 0};
    std::shared_ptr<PopupCounter> m_counter = std::make_shared<PopupCounter>();
};

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

TEST_F(HtmlFilterTest, HtmlBodiesAreRewrittenAndReframedWhateverTheirFraming) {
    Switch(0, 0, 1);
    const std::string expected =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(kRewritten.size()) + "\r\n\r\n" + kRewritten;
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
    EXPECT_EQ(Popups(), 4u * 5u);
}

TEST_F(HtmlFilterTest, EverythingElsePassesByteForByte) {
    Switch(1, 1, 1);
    const std::string image =
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 12\r\n\r\n"
        "\x89PNG\0<script\0\r\n"s;
    ExpectRelayed(kGet, image, image);
    // Codings that cannot be undone, and damaged gzip, stay as they are.
    const std::string brotli =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: br\r\n"
        "Content-Length: 7\r\n\r\n<script";
    ExpectRelayed(kGet, brotli, brotli);
    const std::string damaged =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
        "Content-Length: 7\r\n\r\n<script";
    ExpectRelayed(kGet, damaged, damaged);
    // A body larger than the limit goes on unfiltered, and so does the rest.
    const std::string big =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 40\r\n\r\n" +
        std::string(33, 'x') + "<script";
    ExpectRelayed(kGet, big, big, 16);
    // A response that is not HTTP, and a body cut short by the close.
    ExpectRelayed(kGet, "garbage <script>\r\n\r\n<script>", "garbage <script>\r\n\r\n<script>");
    const std::string cut =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 99\r\n\r\n"
        "<script>";
    ExpectRelayed(kGet, cut, cut);
    EXPECT_EQ(Popups(), 0u);
}

TEST_F(HtmlFilterTest, BodilessAnswersKeepTheConnectionInStep) {
    Switch(1, 0, 0);
    const std::string requests =
        "HEAD /a HTTP/1.1\r\nHost: o\r\n\r\n"
        "POST /b HTTP/1.1\r\nHost: o\r\nContent-Length: 26\r\n\r\n"
        "HEAD /fake HTTP/1.1\r\n\r\n.."
        "GET /c HTTP/1.1\r\nHost: o\r\n\r\n"
        "GET /d HTTP/1.1\r\nHost: o\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3\r\nabc\r\n0\r\n\r\n"
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
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\n\r\n<noscript>";
    ExpectRelayed(requests, head + interim + noContent + notModified + html + html,
                  head + interim + noContent + notModified + htmlOut + htmlOut);
}

TEST_F(HtmlFilterTest, AnEmptyHtmlBodyGoesOutWithoutWaitingForTheClose) {
    // On a kept-alive connection nothing follows the head: the browser
    // would wait for the answer until the upstream closes.
    Switch(1, 1, 1);
    const std::string empty =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, empty.size()}) {
        HtmlResponseFilter filter(m_switches.Get(), m_counter);
        filter.OnRequestBytes(kGet + kGet);
        std::string out;
        for (std::size_t at = 0; at < empty.size(); at += piece) {
            out += filter.OnResponseBytes(std::string_view(empty).substr(at, piece));
        }
        EXPECT_EQ(out, empty) << "pieces of " << piece;
        // The connection stays in step for the next response.
        const std::string html =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n<script>";
        EXPECT_EQ(std::string(filter.OnResponseBytes(html)),
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\n\r\n"
                  "<noscript>");
    }
}

TEST_F(HtmlFilterTest, TunnelAndUnfollowableRequestsPassUntouched) {
    Switch(1, 1, 1);
    const std::string tunnel =
        "HTTP/1.1 200 Connection established\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<script>\0"s;
    ExpectRelayed("CONNECT o.test:443 HTTP/1.1\r\nHost: o.test:443\r\n\r\n\x16\x03\x01"s, tunnel,
                  tunnel);
    // A request framing that cannot be followed: later answers pass as they are.
    const std::string html =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n\r\n"
        "<script>";
    ExpectRelayed("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", html + html,
                  "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\n\r\n"
                  "<noscript>" +
                      html);
}

TEST_F(HtmlFilterTest, HeadsAtTheSizeLimitAreTreatedAlikeHoweverTheReadsCutThem) {
    // Heads of up to 64 KiB, their empty line included, are followed.
    constexpr std::size_t kLimit = 64 * 1024;
    Switch(0, 0, 1);
    const std::string start = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    const std::string length = "Content-Length: " + std::to_string(kPage.size()) + "\r\n\r\n";
    const std::string newLength =
        "Content-Length: " + std::to_string(kRewritten.size()) + "\r\n\r\n";
    auto padded = [&](std::size_t headSize) {
        const std::size_t lines = start.size() + length.size() + std::string("X: \r\n").size();
        return start + "X: " + std::string(headSize - lines, 'p') + "\r\n";
    };
    ExpectRelayed(kGet, padded(kLimit) + length + kPage, padded(kLimit) + newLength + kRewritten);
    ExpectRelayed(kGet, padded(kLimit + 1) + length + kPage, padded(kLimit + 1) + length + kPage);

    // A request head over the limit: what answers it cannot be known.
    const std::string response = start + length + kPage;
    for (std::size_t requestSize : {kLimit, kLimit + 1}) {
        const std::string request =
            "GET / HTTP/1.1\r\nX: " + std::string(requestSize - 23, 'p') + "\r\n\r\n";
        ASSERT_EQ(request.size(), requestSize);
        std::set<std::string> outputs;
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, requestSize - 2, requestSize}) {
            HtmlResponseFilter filter(m_switches.Get(), m_counter);
            for (std::size_t at = 0; at < request.size(); at += piece) {
                filter.OnRequestBytes(std::string_view(request).substr(at, piece));
            }
            std::string out(filter.OnResponseBytes(response));
            out += filter.OnResponseEnd();
            outputs.insert(out);
        }
        const std::string expected =
            requestSize == kLimit ? start + newLength + kRewritten : response;
        EXPECT_EQ(outputs, std::set<std::string>{expected}) << requestSize;
    }
}

TEST(HtmlFilterFactory, PlainRelayWhileEverySwitchIsOff) {
    FakeFilterSwitches switches(0, 0, 2);
    HtmlFilterFactory factory(switches.Get(), std::make_shared<PopupCounter>());
    EXPECT_EQ(factory.ForConnection(), nullptr);
    switches.Set(0, 0, 1);
    EXPECT_NE(factory.ForConnection(), nullptr);
}

}  // namespace
