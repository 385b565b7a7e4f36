#pragma once

#include <string>
#include <string_view>

struct RegistryPath {
    std::string keyPath;  // relative to the root; empty means the root itself
    std::string valueName;
};

// "\Software\Quillon\\UseProxy" -> {"Software\Quillon", "UseProxy"}: leading
// backslashes dropped, the last separator splits, backslashes around it are
// trimmed. A path without separator names a value directly under the root.
RegistryPath SplitRegistryPath(std::string_view path);
