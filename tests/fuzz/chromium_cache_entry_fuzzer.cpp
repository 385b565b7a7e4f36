// A Chromium simple-cache entry file (<hash>_0), damaged or not: a URL is
// only found behind the format's magic number, inside the file.
#include <string>

#include "browser_cache_linux.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view entry = AsText(data, size);
    const std::string url = ChromiumCacheEntryUrlOfBytes(entry);
    if (!url.empty()) {
        FUZZ_CHECK(entry.substr(0, 8) == std::string_view("\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc", 8));
        FUZZ_CHECK(entry.find(url, 24) != std::string_view::npos);
        FUZZ_CHECK(url.find(' ') == std::string::npos);
    }
    return 0;
}
