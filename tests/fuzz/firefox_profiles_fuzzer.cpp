// profiles.ini as Firefox or anyone else may have left it: only [Profile…]
// sections with a Path give profiles, and each path is trimmed and present.
#include <string>

#include "browser_profiles_linux.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = AsText(data, size);
    for (const FirefoxProfileEntry& entry : ReadFirefoxProfileList(text)) {
        FUZZ_CHECK(!entry.path.empty());
        FUZZ_CHECK(entry.path.find('\n') == std::string::npos);
        FUZZ_CHECK(text.find(entry.path) != std::string_view::npos);
    }
    return 0;
}
