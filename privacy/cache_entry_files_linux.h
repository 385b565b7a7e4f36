// Browser cache entry files as Firefox (cache2) and Chromium (simple cache)
// write them, for tests and benchmarks: the key the cleaner reads is the URL.
#pragma once

#include <filesystem>
#include <string>

namespace privacytest {

namespace fs = std::filesystem;

// cache2/entries/<hexName>: data, metadata with the key ":<url>".
void WriteFirefoxCacheEntry(const fs::path& folder, const std::string& hexName,
                            const std::string& url);
// <hexName>_0 with the key and body, <hexName>_1 and <hexName>_s beside it.
void WriteChromiumCacheEntry(const fs::path& folder, const std::string& hexName,
                             const std::string& url);
// The index file that marks a folder as Chromium's simple cache, and the
// real index in index-dir/ beside it.
void WriteChromiumCacheIndex(const fs::path& folder);

}  // namespace privacytest
