// Just enough HTTP/1.x to know where one message ends and the next begins:
// heads, their headers, and the body framing they declare.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ascii_text.h"

// Offset just past the empty line that ends a head (CR LF CR LF, or bare LF
// LF as lenient peers send), or npos while the head is incomplete. The first
// `searched` bytes are known to hold no end: a head that comes in many reads
// is searched once, not again at every read.
std::size_t FindHeadEnd(std::string_view buffer, std::size_t searched = 0);

struct HttpHead {
    std::string startLine;
    std::vector<std::pair<std::string, std::string>> headers;  // values trimmed

    // The first header of that name, compared without regard to case.
    std::optional<std::string_view> Header(std::string_view name) const;
    // Every value of that name joined with ", ", as lists combine.
    std::string JoinedHeader(std::string_view name) const;
};

// nullopt when the head is not a well-formed HTTP/1.x head.
std::optional<HttpHead> ParseHead(std::string_view head);

// The media type of a Content-Type value, lower-cased, without parameters.
std::string MediaType(std::string_view contentType);

enum class BodyKind {
    None,        // no body: the next message starts right after the head
    Length,      // exactly `length` bytes
    Chunked,     // chunked transfer coding
    UntilClose,  // everything until the connection closes
    Tunnel,      // the connection is no longer HTTP (CONNECT, Upgrade)
    Invalid,     // the framing cannot be known: the stream cannot be followed
};

struct BodyFraming {
    BodyKind kind = BodyKind::None;
    std::uint64_t length = 0;
};

// Request line's method, or empty when there is none.
std::string_view RequestMethod(const HttpHead& head);
// Status code of a status line, or 0 when it is not one.
int ResponseStatus(const HttpHead& head);

BodyFraming RequestBodyFraming(const HttpHead& head);
// The framing of a response to a request with `method`. An interim (1xx)
// response other than 101 is followed by the real one for the same request.
BodyFraming ResponseBodyFraming(const HttpHead& head, std::string_view method);
inline bool IsInterim(int status) {
    return status >= 100 && status < 200 && status != 101;
}

// Reads a chunked body incrementally. Feed returns how many bytes of `data`
// belong to the body (the rest starts the next message); decoded content goes
// to `content` when it is given.
class ChunkedDecoder {
public:
    std::size_t Feed(std::string_view data, std::string* content);
    bool Done() const { return m_state == State::Done; }
    bool Failed() const { return m_state == State::Failed; }

private:
    enum class State { Size, Extension, SizeLf, Data, DataCr, DataLf, Trailer, Done, Failed };
    State m_state = State::Size;
    std::uint64_t m_size = 0;
    int m_digits = 0;
    std::size_t m_trailerLine = 0;
};

// Follows a body of known framing: how much of `data` it still takes.
class BodyReader {
public:
    explicit BodyReader(BodyFraming framing) : m_framing(framing), m_remaining(framing.length) {}
    // Bytes of `data` that belong to the body; decoded content is appended to
    // `content` when given.
    std::size_t Feed(std::string_view data, std::string* content);
    bool Done() const;
    bool Failed() const { return m_chunked.Failed(); }
    BodyKind Kind() const { return m_framing.kind; }

private:
    BodyFraming m_framing;
    std::uint64_t m_remaining;
    ChunkedDecoder m_chunked;
};
