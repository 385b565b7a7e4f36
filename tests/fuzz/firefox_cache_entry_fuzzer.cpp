// A Firefox cache2 entry file as it may lie on disk, damaged or not: its URL
// is found inside the key the file holds, never beyond the file, and a key
// over the size limit is not read.
#include <string>

#include "browser_cache_linux.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view entry = AsText(data, size);
    const std::string url = FirefoxCacheEntryUrlOfBytes(entry);
    FUZZ_CHECK(url.size() < 64 * 1024);
    FUZZ_CHECK(url.empty() || entry.find(url) != std::string_view::npos);
    return 0;
}
