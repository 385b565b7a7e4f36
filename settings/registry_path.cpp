#include "registry_path.h"

#include "ansi_text.h"

RegistryPath SplitRegistryPath(std::string_view path) {
    std::size_t start = 0;
    while (start < path.size() && path[start] == '\\') {
        ++start;
    }
    std::string_view rest = path.substr(start);

    // Walk by characters, so the trail byte of a double-byte character is
    // never taken for a separator; remember where the last run of separators
    // began, which is where the key path ends.
    std::size_t last = std::string_view::npos;
    std::size_t lastRunStart = 0;
    std::size_t runStart = 0;
    bool prevWasSeparator = false;
    for (std::size_t i = 0; i < rest.size();) {
        if (IsAnsiLeadByte(static_cast<unsigned char>(rest[i])) && i + 1 < rest.size()) {
            prevWasSeparator = false;
            i += 2;
            continue;
        }
        if (rest[i] == '\\') {
            if (!prevWasSeparator) {
                runStart = i;
            }
            last = i;
            lastRunStart = runStart;
            prevWasSeparator = true;
        } else {
            prevWasSeparator = false;
        }
        ++i;
    }

    if (last == std::string_view::npos) {
        return {std::string(), std::string(rest)};
    }
    return {std::string(rest.substr(0, lastRunStart)), std::string(rest.substr(last + 1))};
}
