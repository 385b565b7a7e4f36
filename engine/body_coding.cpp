#include "body_coding.h"

#include <zlib.h>

#include <climits>

#include "http_framing.h"

struct ContentDecoder::Stream {
    z_stream z{};
    ~Stream() { inflateEnd(&z); }
};

std::unique_ptr<ContentDecoder> ContentDecoder::For(std::string_view coding) {
    Kind kind;
    if (coding.empty() || EqualNoCase(coding, "identity")) {
        kind = Kind::Identity;
    } else if (EqualNoCase(coding, "gzip") || EqualNoCase(coding, "x-gzip")) {
        kind = Kind::Gzip;
    } else if (EqualNoCase(coding, "deflate")) {
        kind = Kind::Deflate;
    } else {
        return nullptr;
    }
    return std::unique_ptr<ContentDecoder>(new ContentDecoder(kind));
}

ContentDecoder::ContentDecoder(Kind kind) : m_kind(kind) {}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::Start(int windowBits) {
    m_stream = std::make_unique<Stream>();
    if (inflateInit2(&m_stream->z, windowBits) != Z_OK) {
        m_stream.reset();  // inflateEnd is not for a stream that never started
        return false;
    }
    return true;
}

bool ContentDecoder::Feed(std::string_view data, const Output& out) {
    if (m_failed) {
        return false;
    }
    if (m_kind == Kind::Identity) {
        if (!data.empty()) {
            out(data);
        }
        return true;
    }
    if (!m_stream) {
        int windowBits = 16 + MAX_WBITS;
        if (m_kind == Kind::Deflate) {
            // A zlib header: compression method 8, a window of at most 32 KiB,
            // and the two bytes a multiple of 31 as numbers.
            m_start.append(data);
            if (m_start.size() < 2) {
                return true;
            }
            const auto b0 = static_cast<unsigned char>(m_start[0]);
            const auto b1 = static_cast<unsigned char>(m_start[1]);
            const bool wrapped = (b0 & 0x0F) == 8 && (b0 >> 4) <= 7 && (b0 * 256 + b1) % 31 == 0;
            windowBits = wrapped ? MAX_WBITS : -MAX_WBITS;
        }
        if (!Start(windowBits)) {
            m_failed = true;
            return false;
        }
        if (!m_start.empty()) {
            std::string held;
            held.swap(m_start);
            return Inflate(held, out);
        }
    }
    return Inflate(data, out);
}

bool ContentDecoder::Inflate(std::string_view data, const Output& out) {
    z_stream& z = m_stream->z;
    while (!data.empty()) {
        if (m_ended) {
            m_failed = true;  // bytes after the end of the stream
            return false;
        }
        const std::size_t piece = std::min<std::size_t>(data.size(), UINT_MAX);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = static_cast<uInt>(piece);
        do {
            char buffer[16384];
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (z.avail_out != sizeof buffer) {
                out(std::string_view(buffer, sizeof buffer - z.avail_out));
            }
            if (rc == Z_STREAM_END) {
                m_ended = true;
                break;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                m_failed = true;
                return false;
            }
            if (rc == Z_BUF_ERROR && z.avail_out != 0) {
                break;  // all input used: wait for more
            }
        } while (z.avail_in > 0 || z.avail_out == 0);
        const std::size_t used = piece - z.avail_in;
        if (m_ended && z.avail_in > 0) {
            m_failed = true;
            return false;
        }
        data.remove_prefix(used);
    }
    return true;
}

bool ContentDecoder::Finish() {
    if (m_failed) {
        return false;
    }
    // An empty body is complete whatever its coding says.
    return m_kind == Kind::Identity || m_ended || (!m_stream && m_start.empty());
}

std::optional<std::string> DecodeContent(std::string_view coding, std::string_view body,
                                         std::size_t limit) {
    std::unique_ptr<ContentDecoder> decoder = ContentDecoder::For(coding);
    std::string out;
    bool fits = true;
    const auto keep = [&](std::string_view piece) {
        fits = fits && out.size() + piece.size() <= limit;
        if (fits) {
            out.append(piece);
        }
    };
    if (!decoder || !decoder->Feed(body, keep) || !decoder->Finish() || !fits) {
        return std::nullopt;
    }
    return out;
}
