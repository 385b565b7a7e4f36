// The WinINet URL cache: a walk with one growing buffer, and the cache as the
// cleaner's IUrlCache.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstddef>
#include <memory>

#include "url_cache.h"

// A walk over the URL cache. Each call overwrites the one buffer, which
// starts at 4096 bytes and grows only to the size WinINet asks for, the same
// entry then being fetched again.
class UrlCacheEnumerator {
public:
    static constexpr DWORD kFirstSize = 4096;

    UrlCacheEnumerator() = default;
    ~UrlCacheEnumerator() = default;
    UrlCacheEnumerator(const UrlCacheEnumerator&) = delete;
    UrlCacheEnumerator& operator=(const UrlCacheEnumerator&) = delete;

    // The first entry that matches the pattern (nullptr: content entries),
    // or nullptr when there is none or the walk cannot start.
    INTERNET_CACHE_ENTRY_INFOA* First(const char* pattern);
    // The next entry, or nullptr at the end of the walk or on an error.
    INTERNET_CACHE_ENTRY_INFOA* Next();

    DWORD BufferSize() const { return m_size; }

private:
    struct FindCloser {
        void operator()(HANDLE find) const { FindCloseUrlCache(find); }
    };
    using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

    // Makes the buffer at least `wanted` bytes and zeroes it.
    bool Prepare(DWORD wanted);
    INTERNET_CACHE_ENTRY_INFOA* Entry() {
        return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(m_buffer.get());
    }

    std::unique_ptr<std::byte[]> m_buffer;
    DWORD m_size = 0;
    FindHandle m_find;
};

class WinInetUrlCache final : public IUrlCache {
public:
    std::unique_ptr<IUrlCacheWalk> Walk(const char* pattern) override;
};

// COM's URL history object (CLSID_CUrlHistory), cleared with
// IUrlHistoryStg2::ClearHistory.
class UrlHistoryStore final : public IHistoryStore {
public:
    void Clear() override;
};
