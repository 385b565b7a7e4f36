#include "browser_site_data_linux.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <map>
#include <string>

#include "browser_profile_fixture_linux.h"
#include "sqlite_handles_linux.h"

namespace {

using namespace privacytest;

// Every file, folder and symlink under root (relative path → a hash of the
// bytes, "/" for a folder, "-> target" for a symlink), not following symlinks.
std::map<std::string, std::string> TreeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[name] = "/";
        } else {
            tree[name] = std::to_string(std::hash<std::string>{}(FileBytes(it->path())));
        }
    }
    return tree;
}

// Drops the paths at or under each of the prefixes.
void Without(std::map<std::string, std::string>& tree, std::initializer_list<std::string> gone) {
    std::erase_if(tree, [&gone](const auto& entry) {
        for (const std::string& prefix : gone) {
            if (entry.first == prefix || entry.first.starts_with(prefix + "/")) {
                return true;
            }
        }
        return false;
    });
}

// As Firefox makes it, in WAL mode.
void AddLegacyLocalStorage(const fs::path& database, int rows) {
    Sql(database,
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE webappsstore2 (originAttributes TEXT, originKey TEXT, scope TEXT,"
        " key TEXT, value TEXT)");
    for (int i = 0; i < rows; ++i) {
        Sql(database, "INSERT INTO webappsstore2 VALUES('', 'moc.elpmaxe.:http:80', '', 'k" +
                          std::to_string(i) + "', 'id')");
    }
}

// As the cookie step calls it: through one store, which remembers the
// databases it left clean.
bool ClearSiteData(BrowserKind kind, const fs::path& directory) {
    static CleanDatabases clean;
    DatabaseAccess access;
    access.clean = &clean;
    return ClearSiteData(BrowserProfile{kind, directory, directory, {}}, access);
}

TEST(SiteDataTest, FirefoxLosesItsOriginsAndLegacyRowsAndKeepsTheRest) {
    FakeHome fake;
    // A name that a file: URI must escape.
    fs::path profile = fake.AddFirefoxProfile("a b%20?.default");
    fs::path outside = fake.Home().home / "elsewhere";
    WriteFile(outside / "keep.txt", "not the profile's");
    for (const char* file :
         {"storage/default/http+++example.com/ls/data.sqlite",
          "storage/default/https+++tracker.example^userContextId=2/idb/1.sqlite",
          "storage/temporary/http+++temp.example/cache/caches.sqlite",
          "storage/default/.quillon-trash-http+++old.example/ls/data.sqlite",
          "storage/default/moz-extension+++8d1e/idb/3647222921wleabcEoxlt-eengsairo.sqlite",
          "storage/default/moz-extension+++8d1e^userContextId=4294967295/idb/x.sqlite",
          "storage/permanent/chrome/idb/2918063365piupsah.sqlite", "storage.sqlite", "prefs.js",
          "logins.json", "key4.db", "extensions/addon@example.xpi"}) {
        WriteFile(profile / file, file);
    }
    fs::create_symlink(outside, profile / "storage/default/http+++link.example");
    AddLegacyLocalStorage(profile / "webappsstore.sqlite", 3);
    AddLegacyLocalStorage(profile / "storage/ls-archive.sqlite", 2);
    Sql(profile / "storage/ls-archive.sqlite",
        "CREATE TABLE database(version INTEGER NOT NULL DEFAULT 0);"
        "INSERT INTO database VALUES(1)");
    auto expected = TreeOf(profile);
    Without(expected, {"storage/default/http+++example.com",
                       "storage/default/https+++tracker.example^userContextId=2",
                       "storage/temporary/http+++temp.example",
                       "storage/default/.quillon-trash-http+++old.example",
                       "storage/default/http+++link.example", "webappsstore.sqlite",
                       "storage/ls-archive.sqlite"});
    auto outsideBefore = TreeOf(outside);

    EXPECT_TRUE(ClearSiteData(BrowserKind::Firefox, profile));

    auto after = TreeOf(profile);
    Without(after, {"webappsstore.sqlite", "storage/ls-archive.sqlite"});
    EXPECT_EQ(after, expected);
    EXPECT_EQ(TreeOf(outside), outsideBefore);
    EXPECT_EQ(Count(profile / "webappsstore.sqlite", "SELECT count(*) FROM webappsstore2"), 0);
    EXPECT_EQ(Count(profile / "storage/ls-archive.sqlite", "SELECT count(*) FROM webappsstore2"),
              0);
    EXPECT_EQ(Count(profile / "storage/ls-archive.sqlite", "SELECT version FROM database"), 1);

    // A clean profile is looked at, not written: not even a -wal made and
    // removed again, which would change the folder's time.
    ASSERT_TRUE(fake.WaitForTheFileClock());
    auto profileTime = fs::last_write_time(profile);
    auto storageTime = fs::last_write_time(profile / "storage");
    EXPECT_TRUE(ClearSiteData(BrowserKind::Firefox, profile));
    EXPECT_EQ(fs::last_write_time(profile), profileTime);
    EXPECT_EQ(fs::last_write_time(profile / "storage"), storageTime);
}

TEST(SiteDataTest, ChromiumLosesItsStorageFoldersAndKeepsExtensionsAndTheRest) {
    FakeHome fake;
    fs::path profile = fake.AddChromiumProfile("Default");
    fs::path outside = fake.Home().home / "elsewhere";
    WriteFile(outside / "000003.log", "not the profile's");
    for (const char* file :
         {"Local Storage/leveldb/000003.log", "Service Worker/Database/000003.log",
          "Service Worker/CacheStorage/abc/index",
          "IndexedDB/http_example.com_0.indexeddb.leveldb/LOG",
          "IndexedDB/https_tracker.example_0.indexeddb.blob/1/00/1",
          "IndexedDB/chrome-extension_abcdefgh_0.indexeddb.leveldb/LOG",
          ".quillon-trash-Session Storage/000003.log", "Bookmarks", "Login Data", "Preferences",
          "Extensions/abcdefgh/1.0_0/manifest.json",
          "Local Extension Settings/abcdefgh/000003.log"}) {
        WriteFile(profile / file, file);
    }
    fs::create_symlink(outside, profile / "Session Storage");
    fs::create_symlink(outside, profile / "IndexedDB/http_link.example_0.indexeddb.leveldb");
    auto expected = TreeOf(profile);
    Without(expected,
            {"Local Storage", "Session Storage", "Service Worker", ".quillon-trash-Session Storage",
             "IndexedDB/http_example.com_0.indexeddb.leveldb",
             "IndexedDB/https_tracker.example_0.indexeddb.blob",
             "IndexedDB/http_link.example_0.indexeddb.leveldb"});
    auto outsideBefore = TreeOf(outside);

    EXPECT_TRUE(ClearSiteData(BrowserKind::Chromium, profile));

    EXPECT_EQ(TreeOf(profile), expected);
    EXPECT_EQ(TreeOf(outside), outsideBefore);
}

TEST(SiteDataTest, NothingIsCreatedAndNothingFollowedWhereTheDataIsNotTheProfilesOwn) {
    FakeHome fake;
    fs::path firefox = fake.AddFirefoxProfile("a.default");
    fs::path chromium = fake.AddChromiumProfile("Default");
    // A profile without any site data: nothing to do, nothing made.
    auto firefoxBefore = TreeOf(firefox);
    auto chromiumBefore = TreeOf(chromium);
    EXPECT_TRUE(ClearSiteData(BrowserKind::Firefox, firefox));
    EXPECT_TRUE(ClearSiteData(BrowserKind::Chromium, chromium));
    EXPECT_EQ(TreeOf(firefox), firefoxBefore);
    EXPECT_EQ(TreeOf(chromium), chromiumBefore);

    // A storage folder that lives elsewhere is not followed; the legacy
    // database that is not one is left as it is, and so is one without the
    // table (which holds no site data).
    fs::path outside = fake.Home().home / "elsewhere";
    WriteFile(outside / "default/http+++example.com/ls/data.sqlite", "x");
    fs::create_symlink(outside, firefox / "storage");
    WriteFile(firefox / "webappsstore.sqlite", "not a database, just text of some length");
    firefoxBefore = TreeOf(firefox);
    auto outsideBefore = TreeOf(outside);
    EXPECT_FALSE(ClearSiteData(BrowserKind::Firefox, firefox));
    EXPECT_EQ(TreeOf(firefox), firefoxBefore);
    EXPECT_EQ(TreeOf(outside), outsideBefore);

    fs::remove(firefox / "storage");
    fs::create_directories(firefox / "storage");
    Sql(firefox / "storage/ls-archive.sqlite", "CREATE TABLE other(x)");
    fs::remove(firefox / "webappsstore.sqlite");
    firefoxBefore = TreeOf(firefox);
    EXPECT_TRUE(ClearSiteData(BrowserKind::Firefox, firefox));
    EXPECT_EQ(TreeOf(firefox), firefoxBefore);
}

TEST(SiteDataTest, LockedLegacyDatabaseKeepsItsRowsUntilALaterCall) {
    FakeHome fake;
    fs::path profile = fake.AddFirefoxProfile("a.default");
    fs::path database = profile / "webappsstore.sqlite";
    AddLegacyLocalStorage(database, 2);
    {
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        sqlite::Connection holder(raw);
        ASSERT_EQ(rc, SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_FALSE(ClearSiteData(BrowserKind::Firefox, profile));
    }
    EXPECT_EQ(Count(database, "SELECT count(*) FROM webappsstore2"), 2);
    EXPECT_TRUE(ClearSiteData(BrowserKind::Firefox, profile));
    EXPECT_EQ(Count(database, "SELECT count(*) FROM webappsstore2"), 0);
}

}  // namespace
