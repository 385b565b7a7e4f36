// The site data a browser keeps beside its cookies: local and session
// storage, IndexedDB, service workers and their caches. A page can keep an id
// there just as in a cookie, so it is cleared with the cookies.
#pragma once

#include "browser_database_linux.h"
#include "browser_profiles_linux.h"

// Removes the site data a profile keeps beside its cookies; the profile's
// browser must not be running.
// - Firefox: every origin folder of storage/default and storage/temporary
//   but the extensions' (moz-extension…), and the rows of the legacy local
//   storage databases webappsstore.sqlite and storage/ls-archive.sqlite.
// - Chromium: Local Storage, Session Storage, Service Worker, and IndexedDB
//   but the extensions' (chrome-extension_…).
// Nothing else of the profile is touched. A symlink is removed itself, never
// followed. A folder that goes whole is first renamed aside, so a browser that
// starts meanwhile finds it whole or gone; what an interrupted call left aside
// goes at the next one.
// Returns true when nothing of it is left (or there was none); false when some
// of it would not go (a locked or unreadable database, a folder that could not
// be removed, a storage folder that is a symlink), for a later call to retry.
// The legacy databases are opened as `access` says (a clean one is not opened
// again while unchanged).
bool ClearSiteData(const BrowserProfile& profile, const DatabaseAccess& access);
