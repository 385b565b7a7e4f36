// The text a download yields: the response body as lines that each end in
// CR LF, whatever line ends the server used.
#pragma once

#include <cstddef>
#include <string>

class DownloadedText {
public:
    // More than any proxy list could be: a body beyond it is refused rather
    // than held in memory.
    static constexpr std::size_t kMaximumSize = 16 * 1024 * 1024;

    // Takes the next bytes of the body: CR bytes are dropped, each LF becomes
    // CR LF, and a zero byte ends the text of its line (the rest of that line,
    // its LF included, is dropped). False once the text has grown too large.
    bool Append(const char* data, std::size_t length);
    const std::string& Text() const { return m_text; }
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
    bool m_skippingLine = false;
};

// The one diagnostic line of a download, on standard output.
void PrintDownloadDiagnostic(const std::string& text);
