// The traces of every Firefox and Chromium-family profile of the user, as the
// URL cache, history store and typed addresses the cleaner works on:
// - "cookie:" walks the cookie rows, "visited:" the history rows, no pattern
//   the disk cache entries, profile after profile;
// - clearing the history store and blanking typed addresses change each
//   profile's history database in one transaction.
// Bookmarks are kept. A profile whose browser is running keeps its databases
// untouched until a later call finds it closed; its cache files still go.
// Profiles are looked up again on every walk, so new ones are found.
#pragma once

#include <memory>

#include "browser_database_linux.h"
#include "browser_profiles_linux.h"
#include "url_cache.h"

class BrowserTraceStore final : public IUrlCache, public IHistoryStore, public ITypedAddresses {
public:
    explicit BrowserTraceStore(BrowserHome home, DatabaseAccess access = {});
    BrowserTraceStore(const BrowserTraceStore&) = delete;
    BrowserTraceStore& operator=(const BrowserTraceStore&) = delete;

    std::unique_ptr<IUrlCacheWalk> Walk(const char* pattern) override;
    void Clear() override;
    void Blank() override;

    TraceStores Stores() { return TraceStores{*this, *this, *this}; }

private:
    BrowserHome m_home;
    CleanDatabases m_clean;
    DatabaseAccess m_access;
};
