// HTTP framing as the filter follows a connection: where a head ends, what
// it holds, and where a chunked body ends. The decoders are fed in pieces and
// must agree with one whole feed; a body encoded in chunks must decode to
// itself and end exactly where its encoding ends.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_support.h"
#include "http_framing.h"

namespace {

std::string Rebuilt(const HttpHead& head) {
    std::string out = head.startLine + "\r\n";
    for (const auto& [name, value] : head.headers) {
        out += name + ": " + value + "\r\n";
    }
    return out + "\r\n";
}

void CheckHead(std::string_view buffer, std::string_view method) {
    const std::size_t end = FindHeadEnd(buffer);
    if (end == std::string_view::npos) {
        return;
    }
    FUZZ_CHECK(end <= buffer.size() && buffer[end - 1] == '\n');
    const auto head = ParseHead(buffer.substr(0, end));
    if (!head) {
        return;
    }
    for (const auto& [name, value] : head->headers) {
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.back() != ' '));
    }
    const auto again = ParseHead(Rebuilt(*head));
    FUZZ_CHECK(again && again->startLine == head->startLine && again->headers == head->headers);

    const int status = ResponseStatus(*head);
    FUZZ_CHECK(status == 0 || (status >= 100 && status <= 999));
    const BodyFraming request = RequestBodyFraming(*head);
    const BodyFraming response = ResponseBodyFraming(*head, method);
    FUZZ_CHECK(request.kind != BodyKind::UntilClose);
    FUZZ_CHECK(status != 0 || response.kind == BodyKind::Invalid);
}

struct Decoded {
    std::size_t used = 0;
    std::string content;
    bool done = false;
    bool failed = false;
};

Decoded DecodeWhole(std::string_view bytes) {
    ChunkedDecoder decoder;
    Decoded d;
    d.used = decoder.Feed(bytes, &d.content);
    d.done = decoder.Done();
    d.failed = decoder.Failed();
    return d;
}

Decoded DecodeInPieces(std::string_view bytes, std::uint32_t seed) {
    ChunkedDecoder decoder;
    Decoded d;
    bool stopped = false;
    ForEachPiece(bytes, seed, [&](std::string_view piece) {
        if (stopped) {
            return;
        }
        const std::size_t used = decoder.Feed(piece, &d.content);
        FUZZ_CHECK(used <= piece.size());
        d.used += used;
        stopped = used < piece.size();
    });
    d.done = decoder.Done();
    d.failed = decoder.Failed();
    return d;
}

// `content` in chunks of the sizes drawn from `seed`, with an extension now
// and then, the last chunk and one trailer field.
std::string Chunked(std::string_view content, std::uint32_t seed) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    ForEachPiece(content, seed, [&](std::string_view piece) {
        std::string size;
        for (std::size_t n = piece.size(); n != 0; n >>= 4) {
            size.insert(size.begin(), kHex[n & 0xF]);
        }
        out += size + (piece.size() % 3 == 0 ? ";x=1\r\n" : "\r\n");
        out += piece;
        out += "\r\n";
    });
    return out + "0\r\nTrailer: 1\r\n\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto seed = input.ConsumeIntegral<std::uint32_t>();
    const std::string method = input.ConsumeRandomLengthString(16);
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    CheckHead(bytes, method);

    const Decoded whole = DecodeWhole(bytes);
    FUZZ_CHECK(whole.used <= bytes.size());
    FUZZ_CHECK(whole.used == bytes.size() || whole.done || whole.failed);
    const Decoded pieces = DecodeInPieces(bytes, seed);
    FUZZ_CHECK(pieces.content == whole.content && pieces.done == whole.done &&
               pieces.failed == whole.failed);
    FUZZ_CHECK(pieces.used == whole.used);

    // Round trip, with the next message right behind the body.
    const std::string encoded = Chunked(bytes, seed);
    const Decoded round = DecodeInPieces(encoded + "GET / HTTP/1.1\r\n", seed ^ 0x9e3779b9u);
    FUZZ_CHECK(round.done && round.content == bytes && round.used == encoded.size());

    // A body of known length takes exactly that many bytes.
    BodyReader reader(BodyFraming{BodyKind::Length, seed % 512});
    std::string content;
    const std::size_t used = reader.Feed(bytes, &content);
    FUZZ_CHECK(used == std::min<std::size_t>(seed % 512, bytes.size()) && content.size() == used);
    FUZZ_CHECK(reader.Done() == (bytes.size() >= seed % 512));
    return 0;
}
