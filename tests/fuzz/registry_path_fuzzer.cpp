// A settings path split into key path and value name: leading separators
// dropped, and the path is exactly key path, one run of separators, value
// name; neither part keeps a separator at its edge.
#include <string>

#include "fuzz_support.h"
#include "registry_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path = AsText(data, size);
    const RegistryPath split = SplitRegistryPath(path);

    const std::string_view rest = path.substr(std::min(path.find_first_not_of('\\'), path.size()));
    FUZZ_CHECK(split.valueName.find('\\') == std::string::npos);
    FUZZ_CHECK(split.keyPath.empty() ||
               (split.keyPath.front() != '\\' && split.keyPath.back() != '\\'));
    if (rest.find('\\') == std::string_view::npos) {
        FUZZ_CHECK(split.keyPath.empty() && split.valueName == rest);
        return 0;
    }
    const std::size_t gap = rest.size() - split.keyPath.size() - split.valueName.size();
    FUZZ_CHECK(split.keyPath.size() + split.valueName.size() < rest.size());
    FUZZ_CHECK(rest == split.keyPath + std::string(gap, '\\') + split.valueName);
    return 0;
}
