// Line-by-line reading of texts that may end their lines in LF or CR LF.
#pragma once

#include <string_view>

// The first line of `text`, without its LF and the CRs before it; `text`
// keeps what follows. The last line may lack its LF.
constexpr std::string_view TakeLine(std::string_view& text) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    while (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}
