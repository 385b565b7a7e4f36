#include "kconfig_text.h"

#include <cstddef>

#include "ascii_text.h"

namespace {

struct Line {
    std::string_view body;  // without its end
    std::string_view end;   // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    while (!text.empty()) {
        std::size_t lf = text.find('\n');
        std::string_view whole =
            text.substr(0, lf == std::string_view::npos ? text.size() : lf + 1);
        text.remove_prefix(whole.size());
        std::size_t endSize = 0;
        if (!whole.empty() && whole.back() == '\n') {
            endSize = whole.size() >= 2 && whole[whole.size() - 2] == '\r' ? 2 : 1;
        }
        lines.push_back(
            {whole.substr(0, whole.size() - endSize), whole.substr(whole.size() - endSize)});
    }
    return lines;
}

bool IsGroupHeader(std::string_view body) {
    return TrimBlanks(body).starts_with('[');
}

// The key of an entry line, or empty for comments and other lines.
std::string_view EntryKey(std::string_view body) {
    std::string_view trimmed = TrimBlanks(body);
    if (trimmed.empty() || trimmed.front() == '#') {
        return {};
    }
    std::size_t eq = trimmed.find('=');
    return eq == std::string_view::npos ? std::string_view() : TrimBlanks(trimmed.substr(0, eq));
}

std::string EntryLine(const KConfigEntry& entry) {
    return entry.key + "=" + EscapeKConfigValue(entry.value);
}

}  // namespace

std::string EscapeKConfigValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ' && (i == 0 || i + 1 == value.size())) {
            out += "\\s";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u == 0x7f) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string SetKConfigEntries(std::string_view text, std::string_view group,
                              const std::vector<KConfigEntry>& entries) {
    const std::string header = "[" + std::string(group) + "]";
    std::vector<Line> lines = SplitLines(text);
    std::vector<std::string> replaced(lines.size());
    std::vector<bool> isReplaced(lines.size(), false);
    std::vector<bool> present(entries.size(), false);
    bool inGroup = false;
    bool groupSeen = false;
    std::size_t insertAfter = 0;  // index + 1 of the group's last non-blank line
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view body = lines[i].body;
        if (IsGroupHeader(body)) {
            inGroup = TrimBlanks(body) == header;
            if (inGroup) {
                groupSeen = true;
                insertAfter = i + 1;
            }
            continue;
        }
        if (!inGroup) {
            continue;
        }
        if (!TrimBlanks(body).empty()) {
            insertAfter = i + 1;
        }
        std::string_view key = EntryKey(body);
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (!key.empty() && key == entries[e].key) {
                replaced[i] = EntryLine(entries[e]);
                isReplaced[i] = true;
                present[e] = true;
            }
        }
    }

    std::string added;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (!present[e]) {
            added += EntryLine(entries[e]) + "\n";
        }
    }

    std::string out;
    out.reserve(text.size() + added.size() + header.size() + 4);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += isReplaced[i] ? std::string_view(replaced[i]) : lines[i].body;
        if (groupSeen && i + 1 == insertAfter && !added.empty()) {
            out += lines[i].end.empty() ? "\n" : lines[i].end;
            out += added;
            continue;
        }
        out += lines[i].end;
    }
    if (!groupSeen) {
        if (!out.empty() && out.back() != '\n') {
            out += '\n';
        }
        if (!out.empty()) {
            out += '\n';
        }
        out += header + "\n" + added;
    }
    return out;
}
