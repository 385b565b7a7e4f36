#include "desktop_entry.h"

#include <vector>

#include "ascii_text.h"

namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kExecKey = "Exec";

struct Line {
    std::string_view text;  // without its line end
    std::size_t end;        // offset just past its line end
};

std::vector<Line> SplitLines(std::string_view file) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < file.size()) {
        std::size_t lf = file.find('\n', start);
        std::size_t end = lf == std::string_view::npos ? file.size() : lf + 1;
        std::string_view text = file.substr(start, end - start);
        if (!text.empty() && text.back() == '\n') {
            text.remove_suffix(1);
        }
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        lines.push_back({text, end});
        start = end;
    }
    return lines;
}

bool IsGroupHeader(std::string_view line) {
    return !line.empty() && line.front() == '[';
}

// The value when `line` is "Exec = value", blanks around "=" allowed.
std::optional<std::string_view> ExecValue(std::string_view line) {
    if (!line.starts_with(kExecKey)) {
        return std::nullopt;
    }
    std::string_view rest = line.substr(kExecKey.size());
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
    if (rest.empty() || rest.front() != '=') {
        return std::nullopt;
    }
    return TrimBlanks(rest.substr(1));
}

// Where the Exec line of the [Desktop Entry] group is, or where one goes.
struct ExecPlace {
    bool groupFound = false;
    std::optional<std::size_t> execLine;
    std::size_t groupLine = 0;
};

ExecPlace FindExec(const std::vector<Line>& lines) {
    ExecPlace place;
    bool inGroup = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = TrimBlanks(lines[i].text);
        if (IsGroupHeader(text)) {
            inGroup = text == kGroup && !place.groupFound;
            if (inGroup) {
                place.groupFound = true;
                place.groupLine = i;
            }
            continue;
        }
        if (inGroup && !place.execLine && ExecValue(text)) {
            place.execLine = i;
        }
    }
    return place;
}

}  // namespace

std::optional<std::string> EncodeDesktopExec(std::string_view program) {
    constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
    bool quote = false;
    for (char c : program) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return std::nullopt;
        }
        quote = quote || kReserved.find(c) != std::string_view::npos;
    }
    // First the Exec rules (quotes, escapes inside quotes, %% for a literal
    // percent), then the string escaping of the file format (\\).
    std::string exec;
    if (quote) {
        exec += '"';
    }
    for (char c : program) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            exec += '\\';
        }
        if (c == '%') {
            exec += '%';
        }
        exec += c;
    }
    if (quote) {
        exec += '"';
    }
    std::string escaped;
    for (char c : exec) {
        if (c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string DesktopExecOf(std::string_view file) {
    std::vector<Line> lines = SplitLines(file);
    ExecPlace place = FindExec(lines);
    if (!place.execLine) {
        return {};
    }
    return std::string(*ExecValue(TrimBlanks(lines[*place.execLine].text)));
}

std::string WithDesktopExec(std::string_view file, std::string_view exec) {
    const std::string line = std::string(kExecKey) + "=" + std::string(exec) + "\n";
    std::vector<Line> lines = SplitLines(file);
    ExecPlace place = FindExec(lines);
    if (!place.groupFound) {
        std::string out(file);
        if (!out.empty() && out.back() != '\n') {
            out += '\n';
        }
        return out + std::string(kGroup) + "\n" + line;
    }
    const std::size_t replaced = place.execLine.value_or(place.groupLine);
    const std::size_t start = replaced == 0 ? 0 : lines[replaced - 1].end;
    const std::size_t end = lines[replaced].end;
    std::string out(file.substr(0, place.execLine ? start : end));
    if (!place.execLine && (out.empty() || out.back() != '\n')) {
        out += '\n';  // a group header on the file's last line, without its end
    }
    out += line;
    out += file.substr(end);
    return out;
}

std::string NewDesktopEntry(std::string_view exec) {
    return std::string(kGroup) + "\nType=Application\nName=Quillon\n" + std::string(kExecKey) +
           "=" + std::string(exec) + "\n";
}
