// The first read of a browser connection: the head as parsed and as sent
// upstream. A rebuilt head must parse to the same head, so that what the
// upstream side sees is what the browser asked.
#include <string>

#include "fuzz_support.h"
#include "request_head.h"

namespace {

bool SameLines(const RequestHead& a, const RequestHead& b) {
    return a.requestLine == b.requestLine && a.headers == b.headers &&
           a.targetHost == b.targetHost && a.targetPort == b.targetPort &&
           a.lineCount == b.lineCount && a.complete == b.complete;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view read = AsText(data, size);
    const RequestHead head = ParseRequestHead(read);
    FUZZ_CHECK(head.consumed <= read.size());
    FUZZ_CHECK(head.lineCount == 0 ? head.headers.empty()
                                   : head.lineCount == head.headers.size() + 1);

    const std::string plain = RebuildRequestHead(head, UpstreamSettings{});
    if (plain.empty()) {
        FUZZ_CHECK(!head.complete && head.lineCount == 0);
        return 0;
    }
    const RequestHead again = ParseRequestHead(plain);
    FUZZ_CHECK(SameLines(head, again));
    // A read that starts with its empty line has an empty request line of
    // its own, sent as one more empty line (which servers skip).
    FUZZ_CHECK(again.consumed == plain.size() || (head.lineCount == 0 && plain == "\r\n\r\n"));
    FUZZ_CHECK(RebuildRequestHead(again, UpstreamSettings{}) == plain);

    if (head.lineCount > 0) {
        // The authentication line is one more header, and only that.
        const UpstreamSettings upstream = MakeUpstreamSettings(1, "proxy", 3128, "user", "secret");
        FUZZ_CHECK(upstream.authenticationFlag == 1);
        const RequestHead withAuth = ParseRequestHead(RebuildRequestHead(head, upstream));
        FUZZ_CHECK(withAuth.headers.size() == head.headers.size() + 1);
        FUZZ_CHECK(withAuth.headers.back().first == "Proxy-Authorization");
        FUZZ_CHECK(withAuth.complete == head.complete);
    }
    return 0;
}
