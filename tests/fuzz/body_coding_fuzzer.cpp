// Content-Encoding undone: any bytes under any coding name give text within
// the limit or nothing, and what zlib encodes (gzip, zlib-wrapped and raw
// deflate) comes back as it was, or nothing when it is over the limit.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "body_coding.h"
#include "fuzz_support.h"

namespace {

std::string Compressed(std::string_view text, int windowBits, int level) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        std::abort();
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    FUZZ_CHECK(rc == Z_STREAM_END);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kCodings[] = {"gzip", "x-gzip", "deflate", "identity",
                                           "",     "GZIP",   "br",      "gzip, deflate"};
    FuzzedDataProvider input(data, size);
    const char* coding = kCodings[input.ConsumeIntegralInRange<std::size_t>(0, 7)];
    const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(0, 8192);
    const int level = input.ConsumeIntegralInRange(0, 9);
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    if (const auto decoded = DecodeContent(coding, bytes, limit)) {
        FUZZ_CHECK(decoded->size() <= limit);
    }

    struct Form {
        const char* coding;
        int windowBits;
    };
    for (const Form form :
         {Form{"gzip", 16 + MAX_WBITS}, Form{"deflate", MAX_WBITS}, Form{"deflate", -MAX_WBITS}}) {
        const auto decoded =
            DecodeContent(form.coding, Compressed(bytes, form.windowBits, level), limit);
        if (bytes.size() <= limit) {
            FUZZ_CHECK(decoded && *decoded == bytes);
        } else {
            FUZZ_CHECK(!decoded);
        }
    }
    return 0;
}
