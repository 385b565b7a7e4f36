// The text a download yields: the response body as lines that each end in
// CR LF, whatever line ends the server used, keeping only lines that can be
// an endpoint's text (see proxy_entries.h).
#pragma once

#include <cstddef>
#include <string>

class DownloadedText {
public:
    // More than any proxy list could be: a body beyond it is refused rather
    // than read on.
    static constexpr std::size_t kMaximumSize = 16 * 1024 * 1024;

    // Takes the next bytes of the body: CR bytes are dropped, each LF becomes
    // CR LF, and a zero byte ends the text of its line (the rest of that line,
    // its LF included, is dropped). A line with any other byte that is not
    // printable ASCII, or longer than an entry may be, is dropped whole.
    // False once the body has grown too large.
    bool Append(const char* data, std::size_t length);
    // The lines so far, a last one without LF included while it may still
    // be an entry.
    const std::string& Text() const { return m_text; }
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
    std::size_t m_received = 0;
    std::size_t m_lineStart = 0;  // where the current line starts in m_text
    bool m_skippingToLf = false;  // after a zero byte
    bool m_lineDropped = false;
};

// The one diagnostic line of a download, on standard output: the text, cut
// after kDiagnosticLength bytes with its whole length stated, so that a big
// list does not flood the session's journal at each update.
inline constexpr std::size_t kDiagnosticLength = 4096;
std::string DownloadDiagnostic(const std::string& text);
void PrintDownloadDiagnostic(const std::string& text);
