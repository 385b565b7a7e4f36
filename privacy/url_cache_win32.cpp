#include "url_cache_win32.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// Wine matches the pattern against its containers' prefixes letter for
// letter ("Cookie:", "Visited:"); Windows ignores case. The prefixes' own
// spelling works with both.
const char* ContainerPrefix(const char* pattern) {
    if (pattern == nullptr) {
        return nullptr;
    }
    if (lstrcmpiA(pattern, kCookiePattern) == 0) {
        return "Cookie:";
    }
    if (lstrcmpiA(pattern, kHistoryPattern) == 0) {
        return "Visited:";
    }
    return pattern;
}

class WinInetWalk final : public IUrlCacheWalk {
public:
    explicit WinInetWalk(const char* pattern) : m_pattern(ContainerPrefix(pattern)) {}

    const UrlCacheEntry* Next() override {
        INTERNET_CACHE_ENTRY_INFOA* info =
            m_started ? m_enumerator.Next() : m_enumerator.First(m_pattern);
        m_started = true;
        m_current = nullptr;
        if (info == nullptr) {
            return nullptr;
        }
        m_current = info->lpszSourceUrlName;
        m_entry.sourceUrlName = m_current ? std::string_view(m_current) : std::string_view();
        m_entry.type = info->CacheEntryType;
        return &m_entry;
    }

    bool DeleteCurrent() override {
        return m_current != nullptr && DeleteUrlCacheEntryA(m_current) != FALSE;
    }

private:
    const char* m_pattern;
    bool m_started = false;
    UrlCacheEnumerator m_enumerator;
    const char* m_current = nullptr;
    UrlCacheEntry m_entry;
};

}  // namespace

bool UrlCacheEnumerator::Prepare(DWORD wanted) {
    if (m_size < wanted) {
        m_buffer.reset();
        m_size = 0;
        try {
            m_buffer = std::make_unique<std::byte[]>(wanted);
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_size = wanted;
    }
    std::memset(m_buffer.get(), 0, m_size);
    return true;
}

INTERNET_CACHE_ENTRY_INFOA* UrlCacheEnumerator::First(const char* pattern) {
    m_find.reset();
    DWORD wanted = kFirstSize;
    while (Prepare(wanted)) {
        DWORD size = wanted;
        HANDLE find = FindFirstUrlCacheEntryA(pattern, Entry(), &size);
        if (find != nullptr) {
            m_find.reset(find);
            return Entry();
        }
        // A size that does not grow would ask for the same entry forever.
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= wanted) {
            return nullptr;
        }
        wanted = size;
    }
    return nullptr;
}

INTERNET_CACHE_ENTRY_INFOA* UrlCacheEnumerator::Next() {
    if (!m_find) {
        return nullptr;
    }
    DWORD wanted = m_size;
    while (Prepare(wanted)) {
        DWORD size = wanted;
        if (FindNextUrlCacheEntryA(m_find.get(), Entry(), &size)) {
            return Entry();
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= wanted) {
            return nullptr;
        }
        wanted = size;
    }
    return nullptr;
}

std::unique_ptr<IUrlCacheWalk> WinInetUrlCache::Walk(const char* pattern) {
    return std::make_unique<WinInetWalk>(pattern);
}
