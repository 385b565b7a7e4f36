#include "body_coding.h"

#include <zlib.h>

#include <climits>

#include "http_framing.h"

namespace {

// windowBits as zlib takes them: 16 + MAX_WBITS gzip, MAX_WBITS zlib, -MAX_WBITS raw.
std::optional<std::string> Inflate(std::string_view body, int windowBits, std::size_t limit) {
    if (body.size() > UINT_MAX) {
        return std::nullopt;
    }
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK) {
        return std::nullopt;
    }
    struct End {
        z_stream* s;
        ~End() { inflateEnd(s); }
    } end{&stream};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    std::string out;
    char buffer[16384];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int rc = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (out.size() > limit) {
            return std::nullopt;
        }
        if (rc == Z_STREAM_END) {
            return out;
        }
        // Input used up before the end: the body was cut short.
        if (rc != Z_OK || (stream.avail_in == 0 && stream.avail_out != 0)) {
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<std::string> DecodeContent(std::string_view coding, std::string_view body,
                                         std::size_t limit) {
    if (coding.empty() || EqualNoCase(coding, "identity")) {
        return body.size() <= limit ? std::optional<std::string>(std::string(body)) : std::nullopt;
    }
    if (EqualNoCase(coding, "gzip") || EqualNoCase(coding, "x-gzip")) {
        return Inflate(body, 16 + MAX_WBITS, limit);
    }
    if (EqualNoCase(coding, "deflate")) {
        auto wrapped = Inflate(body, MAX_WBITS, limit);
        return wrapped ? wrapped : Inflate(body, -MAX_WBITS, limit);
    }
    return std::nullopt;
}
