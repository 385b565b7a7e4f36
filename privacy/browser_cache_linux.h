// The browsers' disk caches as cache content entries: one entry per cached
// response. Only files in the browsers' own entry format are ever listed, so a
// folder that is not a cache loses nothing.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "browser_profiles_linux.h"
#include "url_cache.h"

// Walks one cache folder: Firefox's cache2/entries (files named by 40 hex
// digits) or Chromium's Cache_Data (simple-cache files <16 hex>_0, whose
// companions _1 and _s go with them).
class CacheFolderWalk final : public IUrlCacheWalk {
public:
    CacheFolderWalk(BrowserKind kind, std::filesystem::path folder);
    ~CacheFolderWalk() override;
    CacheFolderWalk(const CacheFolderWalk&) = delete;
    CacheFolderWalk& operator=(const CacheFolderWalk&) = delete;

    const UrlCacheEntry* Next() override;
    bool DeleteCurrent() override;
    // A folder that holds nothing but the cache's own files is emptied as a
    // whole: renamed aside, replaced by an empty one and removed, and the
    // cache's index is made to be rebuilt. Otherwise entry by entry.
    std::size_t DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes = 0) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The URL a cache entry file holds in its key, or empty when the file is not
// in the browser's format.
std::string FirefoxCacheEntryUrl(const std::filesystem::path& file);
std::string ChromiumCacheEntryUrl(const std::filesystem::path& file);
// The same from an entry file's bytes held in memory.
std::string FirefoxCacheEntryUrlOfBytes(std::string_view entry);
std::string ChromiumCacheEntryUrlOfBytes(std::string_view entry);
