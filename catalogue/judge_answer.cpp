#include "judge_answer.h"

#include <algorithm>

#include "ascii_text.h"
#include "text_lines.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The header name of a "Name: value" line; empty for any other line.
std::string_view HeaderName(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos ||
        line.substr(0, colon).find(' ') != std::string_view::npos) {
        return {};
    }
    return TrimBlanks(line.substr(0, colon));
}

bool IsRequestLine(std::string_view line) {
    return HeaderName(line).empty() && line.find(" HTTP/") != std::string_view::npos;
}

}  // namespace

std::optional<JudgeAnswer> ParseJudgeAnswer(std::string_view body) {
    JudgeAnswer answer;
    bool first = true;
    while (!body.empty()) {
        const std::string_view line = TakeLine(body);
        if (first) {
            if (!line.starts_with(kRemoteAddrPrefix)) {
                return std::nullopt;
            }
            answer.remoteAddress = TrimBlanks(line.substr(kRemoteAddrPrefix.size()));
            first = false;
        } else if (!line.empty()) {
            answer.lines.emplace_back(line);
        }
    }
    if (first) {
        return std::nullopt;
    }
    return answer;
}

bool RevealsProxy(std::string_view headerName) {
    return std::any_of(kProxyHeaders.begin(), kProxyHeaders.end(),
                       [&](std::string_view name) { return EqualNoCase(name, headerName); });
}

bool NamesAddress(std::string_view text, std::string_view address) {
    if (address.empty()) {
        return false;
    }
    for (std::size_t at = text.find(address); at != std::string_view::npos;
         at = text.find(address, at + 1)) {
        const std::size_t end = at + address.size();
        // A digit, or a dot and a digit, on either side makes a longer number.
        const bool longerBefore =
            at > 0 &&
            (IsDigit(text[at - 1]) || (text[at - 1] == '.' && at > 1 && IsDigit(text[at - 2])));
        const bool longerAfter =
            end < text.size() &&
            (IsDigit(text[end]) ||
             (text[end] == '.' && end + 1 < text.size() && IsDigit(text[end + 1])));
        if (!longerBefore && !longerAfter) {
            return true;
        }
    }
    return false;
}

ProxyGrade GradeAnswer(const JudgeAnswer& answer, std::string_view ownAddress) {
    if (ownAddress.empty()) {
        return ProxyGrade::kNone;
    }
    if (NamesAddress(answer.remoteAddress, ownAddress)) {
        return ProxyGrade::kTransparent;
    }
    bool revealed = false;
    for (const std::string& line : answer.lines) {
        const std::string_view name = HeaderName(line);
        if (IsRequestLine(line) || EqualNoCase(name, "Host")) {
            continue;
        }
        if (NamesAddress(line, ownAddress)) {
            return ProxyGrade::kTransparent;
        }
        revealed = revealed || RevealsProxy(name);
    }
    return revealed ? ProxyGrade::kAnonymous : ProxyGrade::kElite;
}
