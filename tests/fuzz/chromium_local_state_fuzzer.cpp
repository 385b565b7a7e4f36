// Chromium's Local State, a JSON document of any shape or none: the profile
// names come from profile.info_cache only, and bad JSON gives none.
#include <string>

#include "browser_profiles_linux.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = AsText(data, size);
    const std::vector<std::string> names = ReadChromiumProfileNames(text);
    FUZZ_CHECK(names.empty() || text.find("info_cache") != std::string_view::npos ||
               text.find('\\') != std::string_view::npos);
    return 0;
}
