#include "downloaded_text.h"

#include <cstdio>

bool DownloadedText::Append(const char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (m_skippingLine) {
            // The line's LF goes with the rest of the line.
            m_skippingLine = c != '\n';
        } else if (c == '\n') {
            m_text += "\r\n";
        } else if (c == '\0') {
            m_skippingLine = true;
        } else if (c != '\r') {
            m_text += c;
        }
    }
    return m_text.size() <= kMaximumSize;
}

void PrintDownloadDiagnostic(const std::string& text) {
    // "\nContent %s\n" in one write: printf of a large text is slow on some
    // run-time libraries, and the text holds no zero byte to end %s early.
    std::string line;
    line.reserve(text.size() + 10);
    line.append("\nContent ").append(text).append("\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
