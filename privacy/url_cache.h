// The traces the cleaner removes, as services: the URL cache (cookies,
// visited pages, downloaded content), the history store and the typed
// addresses. Windows reaches them through WinINet, COM and the registry; Linux
// through the stores of the real browsers' profiles.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

// Cache entry type bits, as WinINet defines them.
inline constexpr std::uint32_t kCookieCacheEntry = 0x00100000;
inline constexpr std::uint32_t kUrlHistoryCacheEntry = 0x00200000;
inline constexpr std::uint32_t kCookieOrHistoryMask = 0x00300000;

// Search patterns: cookie entries, history entries; no pattern (nullptr)
// walks the content entries.
inline constexpr const char* kCookiePattern = "cookie:";
inline constexpr const char* kHistoryPattern = "visited:";

struct UrlCacheEntry {
    std::string_view sourceUrlName;  // the entry's key
    std::uint32_t type = 0;
};

// One walk over the entries that match a pattern. Only the entry last
// returned is valid; the walk ends at its first failure.
class IUrlCacheWalk {
public:
    virtual ~IUrlCacheWalk() = default;
    // The next entry (the first one on the first call), or nullptr at the end.
    virtual const UrlCacheEntry* Next() = 0;
    // Deletes the entry last returned by Next, before the walk moves on.
    // False when it could not be deleted; the walk goes on regardless.
    virtual bool DeleteCurrent() = 0;
    // Deletes every entry Next has not returned yet whose type has none of
    // the bits of skipTypes, each as if read and deleted in turn; gives how
    // many would not go. A stop request ends it between two entries. Stores
    // that can delete many entries at once do so.
    virtual std::size_t DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes = 0) {
        std::size_t failed = 0;
        while (!stop.stop_requested()) {
            const UrlCacheEntry* entry = Next();
            if (entry == nullptr) {
                break;
            }
            if ((entry->type & skipTypes) == 0) {
                failed += DeleteCurrent() ? 0 : 1;
            }
        }
        return failed;
    }
};

class IUrlCache {
public:
    virtual ~IUrlCache() = default;
    // pattern: kCookiePattern, kHistoryPattern or nullptr. Never nullptr.
    virtual std::unique_ptr<IUrlCacheWalk> Walk(const char* pattern) = 0;
};

class IHistoryStore {
public:
    virtual ~IHistoryStore() = default;
    virtual void Clear() = 0;
};

class ITypedAddresses {
public:
    virtual ~ITypedAddresses() = default;
    virtual void Blank() = 0;
};

// The three services the cleaning worker uses; they outlive it.
struct TraceStores {
    IUrlCache& cache;
    IHistoryStore& history;
    ITypedAddresses& typedAddresses;
};
