// One relayed connection through the HTML rewriting: the browser's requests,
// then the upstream's responses and its close. However the bytes are cut into
// reads, the browser must get the same bytes, the connection must end at the
// same point, and the pop-up count must be the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>

#include "fake_filter_switches.h"
#include "fuzz_support.h"
#include "html_response_filter.h"

namespace {

struct Relayed final : IResponseSink {
    void Send(std::string_view bytes) override { out.append(bytes); }
    std::string out;
    bool ended = false;
    std::uint32_t popups = 0;
};

// `seed` 0: every direction in one read; otherwise reads cut by the seed.
Relayed Relay(std::uint8_t flags, std::string_view requests, std::string_view responses,
              std::uint32_t seed) {
    // Switches of their own: the stored pop-up count adds up across relays.
    FakeFilterSwitches switches(flags & 1, (flags >> 1) & 1, (flags >> 2) & 1);
    auto counter = std::make_shared<PopupCounter>();
    HtmlResponseFilter filter(switches.Live(), counter);
    Relayed r;
    if (seed == 0) {
        filter.OnRequestBytes(requests);
        filter.OnResponseBytes(responses, r);
    } else {
        ForEachPiece(requests, seed, [&](std::string_view piece) { filter.OnRequestBytes(piece); });
        ForEachPiece(responses, ~seed, [&](std::string_view piece) {
            if (!filter.EndsConnection()) {
                filter.OnResponseBytes(piece, r);
            }
        });
    }
    r.ended = filter.EndsConnection();
    if (!r.ended) {
        filter.OnResponseEnd(r);
    }
    r.popups = switches.FoldedPopups(*counter);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto flags = input.ConsumeIntegral<std::uint8_t>();
    const auto seed = input.ConsumeIntegral<std::uint32_t>() | 1u;
    const std::string requests = input.ConsumeRandomLengthString();
    const std::string responses = input.ConsumeRemainingBytesAsString();

    const Relayed whole = Relay(flags, requests, responses, 0);
    const Relayed pieces = Relay(flags, requests, responses, seed);
    FUZZ_CHECK(whole.out == pieces.out);
    FUZZ_CHECK(whole.ended == pieces.ended);
    FUZZ_CHECK(whole.popups == pieces.popups);
    return 0;
}
