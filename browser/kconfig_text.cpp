#include "kconfig_text.h"

#include <cstddef>
#include <optional>

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

struct Entry {
    std::string_view key;
    std::string_view value;  // as written, escapes kept
};

// nullopt for headers, comments and other lines.
std::optional<Entry> ParseEntry(std::string_view body) {
    std::string_view trimmed = TrimBlanks(body);
    std::size_t eq = trimmed.find('=');
    if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '[' ||
        eq == std::string_view::npos || TrimBlanks(trimmed.substr(0, eq)).empty()) {
        return std::nullopt;
    }
    return Entry{TrimBlanks(trimmed.substr(0, eq)), TrimBlanks(trimmed.substr(eq + 1))};
}

// Which lines belong to a section of the group, headers included.
std::vector<bool> GroupMembers(const std::vector<Line>& lines, std::string_view group) {
    const std::string header = "[" + std::string(group) + "]";
    std::vector<bool> member(lines.size(), false);
    bool inGroup = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsGroupHeader(lines[i].body)) {
            inGroup = TrimBlanks(lines[i].body) == header;
        }
        member[i] = inGroup;
    }
    return member;
}

// A group added to the end of a text, set apart from it by a blank line.
void AppendGroup(std::string& out, std::string_view groupText) {
    if (!out.empty() && out.back() != '\n') {
        out += '\n';
    }
    if (!out.empty()) {
        out += '\n';
    }
    out += groupText;
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
    std::vector<Line> lines = SplitLines(text);
    const std::vector<bool> member = GroupMembers(lines, group);
    std::vector<std::string> replaced(lines.size());
    std::vector<bool> isReplaced(lines.size(), false);
    std::vector<bool> present(entries.size(), false);
    bool groupSeen = false;
    std::size_t insertAfter = 0;  // index + 1 of the group's last non-blank line
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!member[i]) {
            continue;
        }
        groupSeen = true;
        if (!TrimBlanks(lines[i].body).empty()) {
            insertAfter = i + 1;
        }
        std::optional<Entry> entry = ParseEntry(lines[i].body);
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (entry && entry->key == entries[e].key) {
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
    out.reserve(text.size() + added.size() + group.size() + 6);
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
        AppendGroup(out, "[" + std::string(group) + "]\n" + added);
    }
    return out;
}

std::optional<std::string> KConfigGroupText(std::string_view text, std::string_view group) {
    std::vector<Line> lines = SplitLines(text);
    const std::vector<bool> member = GroupMembers(lines, group);
    std::optional<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (member[i]) {
            out = out.value_or("");
            *out += lines[i].body;
            *out += lines[i].end;
        }
    }
    return out;
}

std::string ReplaceKConfigGroup(std::string_view text, std::string_view group,
                                const std::optional<std::string>& groupText) {
    std::vector<Line> lines = SplitLines(text);
    const std::vector<bool> member = GroupMembers(lines, group);
    std::string out;
    bool seen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (member[i]) {
            if (!seen && groupText) {
                out += *groupText;
            }
            seen = true;
            continue;
        }
        // A group text that ended the file may lack its last line end.
        if (!out.empty() && out.back() != '\n') {
            out += '\n';
        }
        out += lines[i].body;
        out += lines[i].end;
    }
    if (!seen && groupText) {
        AppendGroup(out, *groupText);
    } else if (seen && !groupText && member.back()) {
        // A group removed from the end takes the blank line that set it apart.
        for (std::string_view blank : {"\n\n", "\r\n\r\n"}) {
            if (out.ends_with(blank)) {
                out.resize(out.size() - blank.size() / 2);
                break;
            }
        }
    }
    return out;
}

std::optional<std::string> KConfigValue(std::string_view text, std::string_view group,
                                        std::string_view key) {
    std::vector<Line> lines = SplitLines(text);
    const std::vector<bool> member = GroupMembers(lines, group);
    std::optional<std::string> value;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::optional<Entry> entry = member[i] ? ParseEntry(lines[i].body) : std::nullopt;
        // As in KConfig, a later entry overrides an earlier one.
        if (entry && entry->key == key) {
            value = std::string(entry->value);
        }
    }
    return value;
}
