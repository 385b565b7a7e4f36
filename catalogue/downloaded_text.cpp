#include "downloaded_text.h"

#include <cstdio>

#include "proxy_entries.h"

bool DownloadedText::Append(const char* data, std::size_t length) {
    m_received += length;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (m_skippingToLf) {
            // The line's LF goes with the rest of the line.
            m_skippingToLf = c != '\n';
        } else if (c == '\0') {
            m_skippingToLf = true;
        } else if (c == '\n') {
            if (!m_lineDropped) {
                m_text += "\r\n";
            }
            m_lineDropped = false;
            m_lineStart = m_text.size();
        } else if (c == '\r' || m_lineDropped) {
            continue;
        } else if (!IsEntryCharacter(c) || m_text.size() - m_lineStart >= kMaximumEntryLength) {
            m_lineDropped = true;
            m_text.resize(m_lineStart);
        } else {
            m_text += c;
        }
    }
    return m_received <= kMaximumSize;
}

std::string DownloadDiagnostic(const std::string& text) {
    std::string line("\nContent ");
    if (text.size() <= kDiagnosticLength) {
        line.append(text);
    } else {
        line.append(text, 0, kDiagnosticLength)
            .append("\n[cut after ")
            .append(std::to_string(kDiagnosticLength))
            .append(" of ")
            .append(std::to_string(text.size()))
            .append(" bytes]");
    }
    return line.append("\n");
}

void PrintDownloadDiagnostic(const std::string& text) {
    // In one write: printf of a large text is slow on some run-time
    // libraries.
    const std::string line = DownloadDiagnostic(text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
