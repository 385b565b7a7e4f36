#include "browser_trace_store_linux.h"

#include <strings.h>

#include <deque>
#include <functional>
#include <system_error>
#include <utility>

#include "browser_cache_linux.h"
#include "browser_site_data_linux.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> CookieDatabases(const BrowserProfile& profile) {
    if (profile.kind == BrowserKind::Firefox) {
        return {profile.directory / "cookies.sqlite"};
    }
    return {profile.directory / "Cookies", profile.directory / "Network" / "Cookies"};
}

fs::path HistoryDatabase(const BrowserProfile& profile) {
    return profile.directory / (profile.kind == BrowserKind::Firefox ? "places.sqlite" : "History");
}

// One walk over many sources, each opened only when the walk reaches it and
// closed (its deletes committed) before the next one opens.
class ChainedWalk final : public IUrlCacheWalk {
public:
    using Source = std::function<std::unique_ptr<IUrlCacheWalk>()>;

    void Add(Source source) { m_sources.push_back(std::move(source)); }

    const UrlCacheEntry* Next() override {
        while (true) {
            if (m_current) {
                if (const UrlCacheEntry* entry = m_current->Next()) {
                    return entry;
                }
                m_current.reset();
            }
            if (m_sources.empty()) {
                return nullptr;
            }
            m_current = m_sources.front()();
            m_sources.pop_front();
        }
    }

    bool DeleteCurrent() override { return m_current && m_current->DeleteCurrent(); }

    std::size_t DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes) override {
        std::size_t failed = 0;
        while (!stop.stop_requested()) {
            if (!m_current) {
                if (m_sources.empty()) {
                    break;
                }
                m_current = m_sources.front()();
                m_sources.pop_front();
            }
            failed += m_current->DeleteAll(stop, skipTypes);
            m_current.reset();
        }
        return failed;
    }

private:
    std::deque<Source> m_sources;
    std::unique_ptr<IUrlCacheWalk> m_current;
};

// The site data of a profile (local storage, IndexedDB, service workers) as
// one cookie entry: a page keeps an id there as in a cookie, so it goes with
// the cookies. The entry is always there; what it holds is looked at only
// when it is deleted, which costs a few stat calls for a clean profile.
class SiteDataWalk final : public IUrlCacheWalk {
public:
    SiteDataWalk(BrowserProfile profile, DatabaseAccess access)
        : m_profile(std::move(profile)),
          m_access(access),
          m_name("Cookie:site data@" + m_profile.directory.string()) {}

    const UrlCacheEntry* Next() override {
        m_current = !m_done;
        m_done = true;
        m_entry = {m_name, kCookieCacheEntry};
        return m_current ? &m_entry : nullptr;
    }
    bool DeleteCurrent() override {
        bool current = std::exchange(m_current, false);
        return current && ClearSiteData(m_profile, m_access);
    }

private:
    BrowserProfile m_profile;
    DatabaseAccess m_access;
    std::string m_name;
    UrlCacheEntry m_entry;
    bool m_done = false;
    bool m_current = false;
};

enum class Search { Cookies, History, Content, Nothing };

Search SearchFor(const char* pattern) {
    if (pattern == nullptr) {
        return Search::Content;
    }
    if (strcasecmp(pattern, kCookiePattern) == 0) {
        return Search::Cookies;
    }
    if (strcasecmp(pattern, kHistoryPattern) == 0) {
        return Search::History;
    }
    return Search::Nothing;
}

}  // namespace

BrowserTraceStore::BrowserTraceStore(BrowserHome home, DatabaseAccess access)
    : m_home(std::move(home)), m_access(access) {
    m_access.clean = &m_clean;
}

std::unique_ptr<IUrlCacheWalk> BrowserTraceStore::Walk(const char* pattern) {
    auto walk = std::make_unique<ChainedWalk>();
    Search search = SearchFor(pattern);
    if (search == Search::Nothing) {
        return walk;
    }
    DatabaseAccess access = m_access;
    for (const BrowserProfile& profile : FindBrowserProfiles(m_home)) {
        if (search == Search::Content) {
            for (const fs::path& folder : profile.cacheDirectories) {
                walk->Add([kind = profile.kind, folder] {
                    return std::make_unique<CacheFolderWalk>(kind, folder);
                });
            }
            continue;
        }
        // A running browser holds its databases; try again next cycle.
        if (IsBrowserRunning(profile)) {
            continue;
        }
        bool firefox = profile.kind == BrowserKind::Firefox;
        if (search == Search::Cookies) {
            const RowWalkQueries& queries = firefox ? FirefoxCookieWalk() : ChromiumCookieWalk();
            for (const fs::path& database : CookieDatabases(profile)) {
                walk->Add([database, &queries, access] {
                    return std::make_unique<RowWalk>(database, queries, access);
                });
            }
            walk->Add([profile, access] { return std::make_unique<SiteDataWalk>(profile, access); });
        } else {
            const RowWalkQueries& queries = firefox ? FirefoxHistoryWalk() : ChromiumHistoryWalk();
            walk->Add([database = HistoryDatabase(profile), &queries, access] {
                return std::make_unique<RowWalk>(database, queries, access);
            });
        }
    }
    return walk;
}

void BrowserTraceStore::Clear() {
    for (const BrowserProfile& profile : FindBrowserProfiles(m_home)) {
        if (!IsBrowserRunning(profile)) {
            RunDatabaseScript(HistoryDatabase(profile),
                              profile.kind == BrowserKind::Firefox ? FirefoxClearHistory()
                                                                   : ChromiumClearHistory(),
                              m_access);
        }
    }
}

void BrowserTraceStore::Blank() {
    for (const BrowserProfile& profile : FindBrowserProfiles(m_home)) {
        if (!IsBrowserRunning(profile)) {
            RunDatabaseScript(HistoryDatabase(profile),
                              profile.kind == BrowserKind::Firefox ? FirefoxBlankTypedAddresses()
                                                                   : ChromiumBlankTypedAddresses(),
                              m_access);
        }
    }
}
