#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Undoes a Content-Encoding as the body arrives: identity, gzip (x-gzip) and
// deflate (zlib-wrapped, or raw as some servers send it, told apart by its
// first two bytes). A decoder holds zlib's state (about 40 KiB) while it
// inflates.
class ContentDecoder {
public:
    // Nothing for a coding it does not know.
    static std::unique_ptr<ContentDecoder> For(std::string_view coding);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Hands what `data` decodes to to `out`, 16 KiB at most at a time;
    // false once the data is damaged (or goes on past the end of the encoded
    // stream).
    using Output = std::function<void(std::string_view)>;
    bool Feed(std::string_view data, const Output& out);
    // The body has ended: false when the encoded stream is not complete.
    bool Finish();

private:
    enum class Kind { Identity, Gzip, Deflate };
    explicit ContentDecoder(Kind kind);
    bool Start(int windowBits);
    bool Inflate(std::string_view data, const Output& out);

    struct Stream;
    Kind m_kind;
    std::unique_ptr<Stream> m_stream;  // zlib's, once inflating started
    std::string m_start;               // deflate: bytes held until its kind is known
    bool m_ended = false;              // the encoded stream has ended
    bool m_failed = false;
};

// A whole body with its Content-Encoding undone; nullopt for other codings,
// damaged or cut data, or content larger than `limit`.
std::optional<std::string> DecodeContent(std::string_view coding, std::string_view body,
                                         std::size_t limit);
