#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "browser_cache_linux.h"
#include "browser_profile_fixture_linux.h"
#include "browser_trace_store_linux.h"
#include "cleaning_steps.h"

namespace {

using namespace privacytest;

long long Rows(const fs::path& db, const std::string& table) {
    return Count(db, "SELECT count(*) FROM " + table);
}

// Runs every step, as a cycle with all options on does.
void CleanEverything(BrowserTraceStore& store) {
    TraceStores stores = store.Stores();
    DeleteCookies(stores);
    DeleteHistoryEntries(stores);
    DeleteTemporaryFiles(stores);
    BlankTypedAddresses(stores);
    FullSweep(stores);
}

class BrowserTraceStoreTest : public ::testing::Test {
protected:
    FakeHome home;
    BrowserTraceStore store{home.Home()};
};

TEST_F(BrowserTraceStoreTest, CookiesOfEveryProfileGoWithTheSchemaKept) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path xdgFirefox =
        home.AddFirefoxProfile("efgh.second", home.Home().configHome / "mozilla" / "firefox");
    fs::path chromium = home.AddChromiumProfile("Default");
    fs::path second = home.AddChromiumProfile("Profile 1");
    fs::path flatpak = home.AddChromiumProfile(
        "Default", home.Home().home / ".var/app/org.chromium.Chromium/config/chromium");
    for (int i = 0; i < 300; ++i) {  // more than one batch
        AddFirefoxCookie(firefox, "a.example", "c" + std::to_string(i));
    }
    AddFirefoxCookie(xdgFirefox, "b.example", "c");
    AddChromiumCookie(chromium / "Cookies", "c.example", "c");
    AddChromiumCookie(second / "Cookies", "d.example", "c");
    AddChromiumCookie(flatpak / "Cookies", "e.example", "c");
    AddFirefoxVisit(firefox, "http://a.example/", false);

    int seen = 0;
    auto walk = store.Walk(kCookiePattern);
    while (const UrlCacheEntry* entry = walk->Next()) {
        EXPECT_EQ(entry->type, kCookieCacheEntry);
        EXPECT_EQ(entry->sourceUrlName.substr(0, 7), "Cookie:");
        EXPECT_TRUE(walk->DeleteCurrent());
        ++seen;
    }
    walk.reset();
    EXPECT_EQ(seen, 304 + 5);  // and the site data of each profile
    for (const fs::path& db : {firefox / "cookies.sqlite", xdgFirefox / "cookies.sqlite"}) {
        EXPECT_EQ(Rows(db, "moz_cookies"), 0) << db;
    }
    for (const fs::path& db : {chromium / "Cookies", second / "Cookies", flatpak / "Cookies"}) {
        EXPECT_EQ(Rows(db, "cookies"), 0) << db;
    }
    // Only cookies: the history is another step's.
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_historyvisits"), 1);
    // A later walk finds the same tables, empty: only each profile's site
    // data is offered again, as it is looked at only when deleted.
    auto later = store.Walk(kCookiePattern);
    while (const UrlCacheEntry* entry = later->Next()) {
        EXPECT_EQ(entry->sourceUrlName.substr(0, 17), "Cookie:site data@");
    }
}

TEST_F(BrowserTraceStoreTest, HistoryGoesAndBookmarksStay) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path places = firefox / "places.sqlite";
    long long marked = AddFirefoxVisit(firefox, "http://marked.example/", true);
    BookmarkFirefoxPlace(firefox, marked);
    // A bookmark whose counter went stale is still a bookmark.
    long long stale = AddFirefoxVisit(firefox, "http://stale.example/", false);
    BookmarkFirefoxPlace(firefox, stale);
    Sql(places, "UPDATE moz_places SET foreign_count = 0 WHERE id = " + std::to_string(stale));
    for (int i = 0; i < 600; ++i) {
        AddFirefoxVisit(firefox, "http://v" + std::to_string(i) + ".example/", i % 7 == 0);
    }
    Sql(places,
        "INSERT INTO moz_annos(place_id, anno_attribute_id, content) VALUES(5, 1, 'x');"
        "INSERT INTO moz_annos(place_id, anno_attribute_id, content) VALUES(" +
            std::to_string(marked) + ", 1, 'kept page');"
        "INSERT INTO moz_meta VALUES('origin_frecency_count', 3);"
        "INSERT INTO moz_meta VALUES('schema_extra', 1)");

    fs::path chromium = home.AddChromiumProfile("Default");
    fs::path history = chromium / "History";
    for (int i = 0; i < 20; ++i) {
        AddChromiumVisit(chromium, "http://c" + std::to_string(i) + ".example/", i == 0);
    }

    DeleteHistoryEntries(store.Stores());

    EXPECT_EQ(Rows(places, "moz_bookmarks"), 2);
    EXPECT_EQ(Rows(places, "moz_places"), 2);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_places WHERE id IN (" +
                                std::to_string(marked) + "," + std::to_string(stale) + ")"),
              2);
    EXPECT_EQ(Count(places,
                    "SELECT sum(visit_count) + sum(typed) + count(last_visit_date)"
                    " FROM moz_places"),
              0);
    EXPECT_EQ(Rows(places, "moz_historyvisits"), 0);
    EXPECT_EQ(Rows(places, "moz_inputhistory"), 0);
    EXPECT_EQ(Rows(places, "moz_annos"), 0);
    // Only the bookmarks' origins are left.
    EXPECT_EQ(Rows(places, "moz_origins"), 2);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_meta WHERE key = 'schema_extra'"), 1);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_meta WHERE key LIKE 'origin_frecency%'"), 0);
    EXPECT_EQ(Text(places, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Text(history, "PRAGMA integrity_check"), "ok");
    for (const char* table : {"urls", "visits", "keyword_search_terms", "segments"}) {
        EXPECT_EQ(Rows(history, table), 0) << table;
    }
}

// Every row of every table, in key order: two databases with the same dump
// hold the same data.
std::string Dump(const fs::path& db) {
    std::string dump;
    std::string tables = Text(db,
                              "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master"
                              " WHERE type = 'table' ORDER BY name)");
    std::istringstream names(tables);
    for (std::string table; names >> table;) {
        dump += table + ": " +
                Text(db, "SELECT group_concat(r, ' | ') FROM (SELECT quote(json_array(t.*)) AS r"
                         " FROM \"" + table + "\" AS t ORDER BY 1)") + "\n";
    }
    return dump;
}

// A history as the browsers leave it after some weeks: several visits per
// page, bookmarks visited and not, a keyword, typed input, annotations,
// page-interaction rows, visited links, segments.
void FillProfiles(FakeHome& home) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path places = firefox / "places.sqlite";
    for (int i = 0; i < 40; ++i) {
        AddFirefoxVisit(firefox, "http://site" + std::to_string(i % 7) + ".example/p" +
                                     std::to_string(i), i % 3 == 0);
        AddFirefoxCookie(firefox, "site" + std::to_string(i % 7) + ".example",
                         "c" + std::to_string(i));
    }
    Sql(places,
        "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type)"
        " SELECT id, 1700000000000001, 1 FROM moz_places WHERE id % 2 = 0;"
        // Bookmarked and visited; bookmarked with a stale counter; a bookmark
        // that was never visited keeps its frecency; a keyword's page.
        "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) VALUES"
        " (1, 5, 3, 0, 'a', 'bm1'), (1, 9, 3, 1, 'b', 'bm2'), (1, 12, 3, 2, 'c', 'bm3');"
        "UPDATE moz_places SET foreign_count = 1 WHERE id IN (5, 9);"
        "INSERT INTO moz_places(url, title, rev_host, frecency, guid, url_hash, foreign_count,"
        " origin_id) VALUES('http://unvisited.example/', 'u', 'x', 50, 'unv', 0, 1, 1);"
        "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid)"
        " SELECT 1, max(id), 3, 3, 'u', 'bm4' FROM moz_places;"
        "INSERT INTO moz_keywords(keyword, place_id) VALUES('kw', 20);"
        "INSERT INTO moz_annos(place_id, anno_attribute_id, content)"
        " SELECT id, 1, 'x' FROM moz_places WHERE id % 4 = 1;"
        "INSERT INTO moz_places_metadata_search_queries(id, terms) VALUES(1, 'q');"
        "INSERT INTO moz_places_metadata(place_id, referrer_place_id, search_query_id)"
        " SELECT id, id + 1, 1 FROM moz_places WHERE id < 30;");

    fs::path chromium = home.AddChromiumProfile("Default");
    fs::path history = chromium / "History";
    for (int i = 0; i < 30; ++i) {
        AddChromiumVisit(chromium, "http://c" + std::to_string(i) + ".example/", i % 4 == 0);
        AddChromiumCookie(chromium / "Cookies", "c" + std::to_string(i) + ".example", "c");
    }
    Sql(history,
        "INSERT INTO visits(url, visit_time, transition) SELECT id, 2, 1 FROM urls;"
        "INSERT INTO visited_links(link_url_id, top_level_url, frame_url)"
        " SELECT id, 'http://top/', 'http://frame/' FROM urls;"
        "INSERT INTO segment_usage(segment_id, time_slot) SELECT id, 1 FROM segments;"
        "INSERT INTO content_annotations(visit_id, annotation_flags, has_url_keyed_image)"
        " SELECT id, 0, 0 FROM visits;"
        "INSERT INTO context_annotations(visit_id, context_annotation_flags)"
        " SELECT id, 0 FROM visits;");
}

// The cookie and history walks of a home, entry by entry or all at once.
std::vector<std::string> CleanAndDump(FakeHome& home, bool allAtOnce,
                                      const std::string& firefoxChange = {}) {
    fs::path firefox = home.Home().home / ".mozilla/firefox/abcd.default-esr";
    fs::path chromium = home.Home().configHome / "chromium/Default";
    if (!firefoxChange.empty()) {
        Sql(firefox / "places.sqlite", firefoxChange);
    }
    BrowserTraceStore store(home.Home());
    for (const char* pattern : {kCookiePattern, kHistoryPattern}) {
        auto walk = store.Walk(pattern);
        std::size_t failed = 0;
        if (allAtOnce) {
            failed = walk->DeleteAll({});
        } else {
            while (walk->Next()) {
                failed += walk->DeleteCurrent() ? 0 : 1;
            }
        }
        EXPECT_EQ(failed, 0u) << pattern;
    }
    std::vector<std::string> dumps;
    for (const fs::path& db : {firefox / "places.sqlite", firefox / "cookies.sqlite",
                               chromium / "History", chromium / "Cookies"}) {
        EXPECT_EQ(Text(db, "PRAGMA quick_check"), "ok") << db;
        dumps.push_back(Dump(db));
    }
    return dumps;
}

TEST(BrowserTraceStoreAllAtOnceTest, DeletingEverythingAtOnceLeavesWhatEntryByEntryLeaves) {
    FakeHome byEntry, atOnce, undone;
    for (FakeHome* home : {&byEntry, &atOnce, &undone}) {
        FillProfiles(*home);
    }
    std::vector<std::string> expected = CleanAndDump(byEntry, false);
    EXPECT_EQ(CleanAndDump(atOnce, true), expected);

    // What stays: the four bookmarked pages and the keyword's page, reset,
    // the unvisited bookmark with its frecency; no visit, cookie or page of
    // Chromium.
    fs::path places = atOnce.Home().home / ".mozilla/firefox/abcd.default-esr/places.sqlite";
    EXPECT_EQ(Text(places, "SELECT group_concat(id || ':' || visit_count || ':' || typed || ':' ||"
                           " frecency || ':' || ifnull(last_visit_date, '-'), ' ') FROM"
                           " (SELECT * FROM moz_places ORDER BY id)"),
              "5:0:0:0:- 9:0:0:0:- 12:0:0:0:- 20:0:0:0:- 41:0:0:50:-");
    EXPECT_EQ(Rows(places, "moz_historyvisits"), 0);
    EXPECT_EQ(Rows(places, "moz_inputhistory"), 0);
    EXPECT_EQ(Rows(places, "moz_bookmarks"), 4);
    fs::path history = atOnce.Home().configHome / "chromium/Default/History";
    for (const char* table : {"urls", "visits", "visited_links", "segments", "segment_usage",
                              "keyword_search_terms", "content_annotations",
                              "context_annotations"}) {
        EXPECT_EQ(Rows(history, table), 0) << table;
    }

    // A place table the rows cannot be put back into (a generated column)
    // makes the set-based walk fail half-way: it is undone whole and the
    // walk goes entry by entry, to the same end.
    const std::string generated =
        "ALTER TABLE moz_places ADD COLUMN doubled INTEGER GENERATED ALWAYS AS (id * 2)";
    FakeHome reference;
    FillProfiles(reference);
    EXPECT_EQ(CleanAndDump(undone, true, generated), CleanAndDump(reference, false, generated));
}

TEST(BrowserTraceStoreAllAtOnceTest, ACycleOverCleanProfilesWritesNothing) {
    FakeHome home;
    FillProfiles(home);
    BrowserTraceStore store(home.Home());
    CleanEverything(store);
    // Every file of the profiles as it is now, with its size and time.
    auto snapshot = [&home] {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(home.Home().home)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path().string() + " " + std::to_string(entry.file_size()) +
                                " " +
                                std::to_string(entry.last_write_time().time_since_epoch().count()));
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    };
    std::vector<std::string> cleaned = snapshot();
    ASSERT_TRUE(home.WaitForTheFileClock());
    CleanEverything(store);
    EXPECT_EQ(snapshot(), cleaned);

    // What a browser writes afterwards is seen: the files changed.
    fs::path firefox = home.Home().home / ".mozilla/firefox/abcd.default-esr";
    fs::path chromium = home.Home().configHome / "chromium/Default";
    AddFirefoxCookie(firefox, "new.example", "n");
    AddFirefoxVisit(firefox, "http://new.example/", true);
    AddChromiumVisit(chromium, "http://new.example/", true);
    CleanEverything(store);
    EXPECT_EQ(Rows(firefox / "cookies.sqlite", "moz_cookies"), 0);
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_historyvisits"), 0);
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_inputhistory"), 0);
    EXPECT_EQ(Rows(chromium / "History", "urls"), 0);
}

TEST_F(BrowserTraceStoreTest, AnOlderFirefoxWithoutFrecencyFlagsIsCleanedToo) {
    fs::path firefox = home.AddFirefoxProfile("old.profile");
    fs::path places = firefox / "places.sqlite";
    Sql(places,
        "ALTER TABLE moz_places DROP COLUMN recalc_frecency;"
        "ALTER TABLE moz_places DROP COLUMN recalc_alt_frecency");
    long long marked = AddFirefoxVisit(firefox, "http://marked.example/", true);
    BookmarkFirefoxPlace(firefox, marked);
    AddFirefoxVisit(firefox, "http://gone.example/", false);

    auto walk = store.Walk(kHistoryPattern);
    int deleted = 0;
    while (walk->Next()) {
        deleted += walk->DeleteCurrent() ? 1 : 0;
    }
    walk.reset();

    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(Rows(places, "moz_bookmarks"), 1);
    EXPECT_EQ(Text(places, "SELECT group_concat(url) FROM moz_places"), "http://marked.example/");
    EXPECT_EQ(Count(places, "SELECT visit_count + typed FROM moz_places"), 0);
    EXPECT_EQ(Rows(places, "moz_historyvisits"), 0);
}

TEST_F(BrowserTraceStoreTest, AWalkCutShortKeepsWhatItDeletedAndNothingHalfDone) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path chromium = home.AddChromiumProfile("Default");
    for (int i = 0; i < 10; ++i) {
        AddFirefoxVisit(firefox, "http://f" + std::to_string(i) + ".example/", false);
        AddChromiumVisit(chromium, "http://c" + std::to_string(i) + ".example/", false);
    }
    // A stop after four entries of each database: the walk is simply dropped.
    {
        auto walk = store.Walk(kHistoryPattern);
        for (int i = 0; i < 14 && walk->Next(); ++i) {
            if (i % 10 < 4) {
                walk->DeleteCurrent();
            }
        }
    }
    fs::path places = firefox / "places.sqlite";
    fs::path history = chromium / "History";
    EXPECT_EQ(Rows(places, "moz_places"), 6);
    EXPECT_EQ(Rows(history, "urls"), 6);
    // Every page left has its visit; no visit is left without its page.
    EXPECT_EQ(Rows(places, "moz_historyvisits"), 6);
    EXPECT_EQ(Count(places,
                    "SELECT count(*) FROM moz_historyvisits WHERE place_id NOT IN"
                    " (SELECT id FROM moz_places)"),
              0);
    EXPECT_EQ(Rows(places, "moz_origins"), 6);
    EXPECT_EQ(Rows(history, "visits"), 6);
    EXPECT_EQ(Rows(history, "keyword_search_terms"), 6);
}

TEST_F(BrowserTraceStoreTest, TypedAddressesAreForgottenButPagesStay) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path chromium = home.AddChromiumProfile("Default");
    AddFirefoxVisit(firefox, "http://typed.example/", true);
    AddFirefoxVisit(firefox, "http://clicked.example/", false);
    AddChromiumVisit(chromium, "http://typed.example/", true);

    BlankTypedAddresses(store.Stores());

    EXPECT_EQ(Count(firefox / "places.sqlite", "SELECT sum(typed) FROM moz_places"), 0);
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_places"), 2);
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_inputhistory"), 0);
    EXPECT_EQ(Count(chromium / "History", "SELECT sum(typed_count) FROM urls"), 0);
    EXPECT_EQ(Rows(chromium / "History", "urls"), 1);
}

TEST_F(BrowserTraceStoreTest, EmptyOrMissingStoresAreLeftAsTheyAre) {
    // Empty databases: every step runs through.
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path chromium = home.AddChromiumProfile("Default");
    // A profile without databases: nothing may be created there.
    fs::path bare = home.AddFirefoxProfile("bare.profile");
    fs::remove(bare / "cookies.sqlite");
    fs::remove(bare / "places.sqlite");
    fs::remove(chromium / "Cookies");

    CleanEverything(store);

    EXPECT_FALSE(fs::exists(bare / "cookies.sqlite"));
    EXPECT_FALSE(fs::exists(bare / "places.sqlite"));
    EXPECT_FALSE(fs::exists(chromium / "Cookies"));
    EXPECT_FALSE(fs::exists(chromium / "Network" / "Cookies"));
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_places"), 0);
    EXPECT_EQ(Rows(chromium / "History", "urls"), 0);
}

TEST_F(BrowserTraceStoreTest, CorruptAndForeignDatabasesAreSkippedUntouched) {
    fs::path garbage = home.AddFirefoxProfile("garbage.profile");
    fs::path foreign = home.AddFirefoxProfile("foreign.profile");
    fs::path truncated = home.AddChromiumProfile("Default");
    fs::path good = home.AddFirefoxProfile("good.profile");
    {
        std::ofstream(garbage / "cookies.sqlite", std::ios::trunc) << std::string(5000, 'x');
        std::ofstream(garbage / "places.sqlite", std::ios::trunc) << "SQLite format 3";
    }
    // Another program's database under the browser's file name.
    fs::remove(foreign / "cookies.sqlite");
    Sql(foreign / "cookies.sqlite",
        "CREATE TABLE moz_cookies(a); INSERT INTO moz_cookies VALUES(1)");
    for (int i = 0; i < 200; ++i) {
        AddChromiumVisit(truncated, "http://t" + std::to_string(i) + ".example/", false);
    }
    fs::resize_file(truncated / "History", fs::file_size(truncated / "History") / 2);
    AddFirefoxCookie(good, "good.example", "c");
    AddFirefoxVisit(good, "http://good.example/", false);

    std::vector<std::pair<fs::path, std::string>> before;
    for (const fs::path& f : {garbage / "cookies.sqlite", garbage / "places.sqlite",
                              foreign / "cookies.sqlite", truncated / "History"}) {
        before.emplace_back(f, FileBytes(f));
    }
    CleanEverything(store);

    for (const auto& [file, bytes] : before) {
        EXPECT_TRUE(FileBytes(file) == bytes) << file << " was changed";
    }
    EXPECT_EQ(Rows(foreign / "cookies.sqlite", "moz_cookies"), 1);
    // The sound profile after them was still cleaned.
    EXPECT_EQ(Rows(good / "cookies.sqlite", "moz_cookies"), 0);
    EXPECT_EQ(Rows(good / "places.sqlite", "moz_places"), 0);
}

TEST_F(BrowserTraceStoreTest, RunningBrowsersKeepTheirDatabasesButLoseTheirCache) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path chromium = home.AddChromiumProfile("Default");
    AddFirefoxCookie(firefox, "a.example", "c");
    AddFirefoxVisit(firefox, "http://a.example/", true);
    AddChromiumCookie(chromium / "Cookies", "c.example", "c");
    AddChromiumVisit(chromium, "http://c.example/", true);
    fs::path firefoxCache =
        home.Home().cacheHome / "mozilla/firefox/abcd.default-esr/cache2/entries";
    fs::path chromiumCache = home.Home().cacheHome / "chromium/Default/Cache/Cache_Data";
    WriteFirefoxCacheEntry(firefoxCache, std::string(40, 'A'), "http://a.example/");
    WriteChromiumCacheEntry(chromiumCache, "0123456789abcdef", "http://c.example/");

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    fs::path singleton = chromium.parent_path() / "SingletonLock";
    fs::create_symlink(std::string(host) + "-" + std::to_string(getpid()), singleton);
    std::vector<std::string> before{
        FileBytes(firefox / "cookies.sqlite"), FileBytes(firefox / "places.sqlite"),
        FileBytes(chromium / "Cookies"), FileBytes(chromium / "History")};
    {
        LockHolder running(firefox / ".parentlock");
        ASSERT_TRUE(running.Holding());
        CleanEverything(store);
        std::vector<std::string> after{
            FileBytes(firefox / "cookies.sqlite"), FileBytes(firefox / "places.sqlite"),
            FileBytes(chromium / "Cookies"), FileBytes(chromium / "History")};
        EXPECT_TRUE(before == after) << "a running browser's database was written";
        EXPECT_FALSE(fs::exists(firefoxCache / std::string(40, 'A')));
        EXPECT_FALSE(fs::exists(chromiumCache / "0123456789abcdef_0"));
        EXPECT_FALSE(fs::exists(chromiumCache / "0123456789abcdef_1"));
    }
    // Both browsers have quit, leaving their lock files behind (Chromium's
    // names a process that is gone): the next cycle cleans.
    fs::remove(singleton);
    fs::create_symlink(std::string(host) + "-999999999", singleton);
    CleanEverything(store);
    EXPECT_EQ(Rows(firefox / "cookies.sqlite", "moz_cookies"), 0);
    EXPECT_EQ(Rows(firefox / "places.sqlite", "moz_places"), 0);
    EXPECT_EQ(Rows(chromium / "Cookies", "cookies"), 0);
    EXPECT_EQ(Rows(chromium / "History", "urls"), 0);
}

TEST_F(BrowserTraceStoreTest, ALockedDatabaseIsLeftForTheNextCycle) {
    fs::path chromium = home.AddChromiumProfile("Default");
    AddChromiumCookie(chromium / "Cookies", "c.example", "c");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((chromium / "Cookies").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    auto started = std::chrono::steady_clock::now();
    DeleteCookies(store.Stores());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(Rows(chromium / "Cookies", "cookies"), 1);

    DeleteCookies(store.Stores());
    EXPECT_EQ(Rows(chromium / "Cookies", "cookies"), 0);
}

TEST_F(BrowserTraceStoreTest, AnEntryThatWillNotGoDoesNotStopTheWalk) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    for (const char* name : {"a", "keep", "b", "c"}) {
        AddFirefoxCookie(firefox, "x.example", name);
    }
    Sql(firefox / "cookies.sqlite",
        "CREATE TRIGGER guard BEFORE DELETE ON moz_cookies WHEN old.name = 'keep'"
        " BEGIN SELECT RAISE(ABORT, 'in use'); END");
    // As the cookie step deletes: everything at once where it can.
    std::size_t failed = store.Walk(kCookiePattern)->DeleteAll({});
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(
        Count(firefox / "cookies.sqlite", "SELECT count(*) FROM moz_cookies WHERE name = 'keep'"),
        1);
    EXPECT_EQ(Rows(firefox / "cookies.sqlite", "moz_cookies"), 1);
}

TEST_F(BrowserTraceStoreTest, ABookmarkThatCannotBeResetKeepsItsVisitsToo) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path places = firefox / "places.sqlite";
    long long marked = AddFirefoxVisit(firefox, "http://marked.example/", true);
    BookmarkFirefoxPlace(firefox, marked);
    AddFirefoxVisit(firefox, "http://gone.example/", false);
    Sql(places, "CREATE TRIGGER guard BEFORE UPDATE ON moz_places WHEN old.id = " +
                    std::to_string(marked) + " BEGIN SELECT RAISE(ABORT, 'busy'); END");

    std::size_t failed = store.Walk(kHistoryPattern)->DeleteAll({});
    EXPECT_EQ(failed, 1u);
    // Not half done: the visit and the typed input of the kept page are there.
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_historyvisits WHERE place_id = " +
                                std::to_string(marked)),
              1);
    EXPECT_EQ(Rows(places, "moz_inputhistory"), 1);
    EXPECT_EQ(Rows(places, "moz_places"), 1);
    EXPECT_EQ(Rows(places, "moz_historyvisits"), 1);
}

TEST_F(BrowserTraceStoreTest, CacheWalksListOnlyEntryFiles) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    fs::path chromium = home.AddChromiumProfile("Profile 1");
    fs::path inProfile = firefox / "cache2" / "entries";
    fs::path chromiumCache = home.Home().cacheHome / "chromium/Profile 1/Cache/Cache_Data";
    WriteFirefoxCacheEntry(inProfile, std::string(40, 'B'), "http://one.example/page");
    WriteChromiumCacheEntry(chromiumCache, "00000000000000ff", "http://two.example/x");
    // Not entries: the index, a file of another name, a file with a wrong magic.
    std::ofstream(chromiumCache / "index") << "index";
    std::ofstream(inProfile / "notes.txt") << "mine";
    std::ofstream(chromiumCache / "1111111111111111_0") << std::string(64, '\0');

    TraceStores stores = store.Stores();
    std::vector<std::string> names;
    auto walk = store.Walk(nullptr);
    while (const UrlCacheEntry* entry = walk->Next()) {
        EXPECT_EQ(entry->type, 0u);
        names.emplace_back(entry->sourceUrlName);
    }
    walk.reset();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"http://one.example/page", "http://two.example/x"}));

    DeleteTemporaryFiles(stores);
    EXPECT_FALSE(fs::exists(inProfile / std::string(40, 'B')));
    EXPECT_FALSE(fs::exists(chromiumCache / "00000000000000ff_0"));
    EXPECT_FALSE(fs::exists(chromiumCache / "00000000000000ff_s"));
    EXPECT_TRUE(fs::exists(chromiumCache / "index"));
    EXPECT_TRUE(fs::exists(inProfile / "notes.txt"));
    EXPECT_TRUE(fs::exists(chromiumCache / "1111111111111111_0"));
}

TEST_F(BrowserTraceStoreTest, CacheFoldersOfTheBrowsersOwnAreEmptiedWhole) {
    fs::path firefox = home.AddFirefoxProfile("abcd.default-esr");
    home.AddChromiumProfile("Default");
    fs::path cache2 = home.Home().cacheHome / "mozilla/firefox/abcd.default-esr/cache2";
    fs::path entries = cache2 / "entries";
    fs::path chromiumCache = home.Home().cacheHome / "chromium/Default/Cache/Cache_Data";
    for (int i = 0; i < 50; ++i) {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%016x", i);
        WriteFirefoxCacheEntry(entries, std::string(24, 'A') + hex, "http://f.example/");
        WriteChromiumCacheEntry(chromiumCache, hex, "http://c.example/");
    }
    WriteChromiumCacheIndex(chromiumCache);
    std::ofstream(cache2 / "index") << "index of 50 entries";
    std::ofstream(cache2 / "doomed" / "keep") << "";
    fs::permissions(entries, fs::perms::owner_all);
    // What a run cut short left beside the folder.
    fs::create_directories(cache2 / ".entries.emptying" / "old");

    DeleteTemporaryFiles(store.Stores());

    EXPECT_TRUE(fs::is_empty(entries));
    EXPECT_EQ(fs::status(entries).permissions() & fs::perms::all, fs::perms::owner_all);
    // Firefox builds its index again from the empty folder.
    EXPECT_FALSE(fs::exists(cache2 / "index"));
    EXPECT_FALSE(fs::exists(cache2 / ".entries.emptying"));
    // Chromium keeps its index file, which says the folder is its cache,
    // and rebuilds the real index.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(chromiumCache)) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"index"});
    EXPECT_FALSE(fs::exists(chromiumCache.parent_path() / ".Cache_Data.emptying"));

    // A folder with anything else in it loses only the entries, one by one;
    // a link is never followed.
    fs::path outside = home.Home().home / "outside";
    fs::create_directories(outside);
    std::ofstream(outside / "mine") << "mine";
    WriteChromiumCacheEntry(chromiumCache, "00000000000000aa", "http://c.example/");
    fs::create_directory_symlink(outside, chromiumCache / "linked");
    WriteFirefoxCacheEntry(entries, std::string(40, 'C'), "http://f.example/");
    std::ofstream(entries / "notes.txt") << "mine";
    FullSweep(store.Stores());
    EXPECT_FALSE(fs::exists(chromiumCache / "00000000000000aa_0"));
    EXPECT_TRUE(fs::exists(outside / "mine"));
    EXPECT_TRUE(fs::is_symlink(chromiumCache / "linked"));
    EXPECT_FALSE(fs::exists(entries / std::string(40, 'C')));
    EXPECT_TRUE(fs::exists(entries / "notes.txt"));
}

TEST_F(BrowserTraceStoreTest, DamagedCacheEntriesGiveNoUrlAndNeverReadBeyondTheFile) {
    fs::path folder = home.Home().home / "entries";
    WriteFirefoxCacheEntry(folder, std::string(40, 'A'), "http://one.example/page");
    WriteChromiumCacheEntry(folder, "00000000000000aa", "http://two.example/x");
    auto bytesOf = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string firefox = bytesOf(folder / std::string(40, 'A'));
    const std::string chromium = bytesOf(folder / "00000000000000aa_0");
    // The file and its bytes in memory read the same.
    EXPECT_EQ(FirefoxCacheEntryUrl(folder / std::string(40, 'A')), "http://one.example/page");
    EXPECT_EQ(FirefoxCacheEntryUrlOfBytes(firefox), "http://one.example/page");
    EXPECT_EQ(ChromiumCacheEntryUrl(folder / "00000000000000aa_0"), "http://two.example/x");
    EXPECT_EQ(ChromiumCacheEntryUrlOfBytes(chromium), "http://two.example/x");

    auto withByte = [](std::string bytes, std::size_t at, char c) {
        bytes[at] = c;
        return bytes;
    };
    // The tail gives the metadata offset (small here); the key length's low
    // byte ends the 7th field after the hashes.
    const std::size_t keyLength = static_cast<unsigned char>(firefox.back()) + 4 + 2 + 27;
    EXPECT_EQ(FirefoxCacheEntryUrlOfBytes(
                  withByte(firefox, keyLength, static_cast<char>(firefox[keyLength] - 1))),
              "http://one.example/pag");
    for (const std::string& damaged :
         {std::string(), std::string("abc"), firefox.substr(0, firefox.size() - 10),
          withByte(firefox, firefox.size() - 4, '\x7f'),  // metadata far beyond the end
          withByte(firefox, keyLength, '\xff'),           // key beyond the end
          withByte(withByte(firefox, keyLength, 0), keyLength - 1, 0)}) {  // no key
        EXPECT_EQ(FirefoxCacheEntryUrlOfBytes(damaged), "") << testing::PrintToString(damaged);
    }
    for (const std::string& damaged :
         {std::string(), chromium.substr(0, 23), withByte(chromium, 0, 'x'),
          withByte(chromium, 14, '\x01'),  // key of 64 KiB and more
          chromium.substr(0, 30)}) {
        EXPECT_EQ(ChromiumCacheEntryUrlOfBytes(damaged), "") << testing::PrintToString(damaged);
    }
}

TEST(BrowserProfilesTest, ProfileListsOfAnyShapeGiveOnlyNamedProfiles) {
    const auto firefox = ReadFirefoxProfileList(
        "[General]\nPath=not-a-profile\n[Profile0]\r\n Path = a b \r\nIsRelative=0\r\n"
        "[Profile1]\nName=no path\n[Profile2\nPath=c\n[Install1]\nDefault=d\n");
    ASSERT_EQ(firefox.size(), 2u);
    EXPECT_EQ(firefox[0].path, "a b");
    EXPECT_FALSE(firefox[0].relative);
    EXPECT_EQ(firefox[1].path, "c");
    EXPECT_TRUE(firefox[1].relative);

    EXPECT_EQ(ReadChromiumProfileNames(R"({"profile":{"info_cache":{"Default":{},"P 1":1}}})"),
              (std::vector<std::string>{"Default", "P 1"}));
    for (const char* odd : {"", "{", "[]", R"({"profile":[]})", R"({"profile":{"info_cache":[1]}})",
                            "{\"profile\":{\"info_cache\":{\"a\":\xff}}}"}) {
        EXPECT_TRUE(ReadChromiumProfileNames(odd).empty()) << odd;
    }
}

TEST(BrowserProfilesTest, FindsProfilesWhereverTheListsPutThem) {
    FakeHome home;
    const BrowserHome& h = home.Home();
    home.AddFirefoxProfile("rel.default");
    fs::path elsewhere = h.home / "elsewhere" / "abs.profile";
    home.AddFirefoxProfile(elsewhere.string());
    home.AddFirefoxProfile("snap.profile", h.home / "snap/firefox/common/.mozilla/firefox");
    home.AddChromiumProfile("Default", h.configHome / "google-chrome-beta");
    home.AddChromiumProfile("Default", h.home / "snap/chromium/common/chromium");
    // Local State naming a folder outside the user data folder is ignored.
    fs::path escape = h.configHome / "chromium";
    fs::create_directories(escape);
    std::ofstream(escape / "Local State")
        << R"({"profile":{"info_cache":{"../..":{}, "Gone":{}}}})";

    std::vector<BrowserProfile> found = FindBrowserProfiles(h);
    std::vector<std::string> dirs;
    for (const BrowserProfile& p : found) {
        dirs.push_back(fs::relative(p.directory, h.home).string());
    }
    std::sort(dirs.begin(), dirs.end());
    EXPECT_EQ(dirs, (std::vector<std::string>{
                        ".config/google-chrome-beta/Default", ".mozilla/firefox/rel.default",
                        "elsewhere/abs.profile", "snap/chromium/common/chromium/Default",
                        "snap/firefox/common/.mozilla/firefox/snap.profile"}));
    for (const BrowserProfile& p : found) {
        if (p.directory.filename() == "rel.default") {
            EXPECT_NE(std::find(p.cacheDirectories.begin(), p.cacheDirectories.end(),
                                h.cacheHome / "mozilla/firefox/rel.default/cache2/entries"),
                      p.cacheDirectories.end());
        }
        if (p.directory.string().find("snap/chromium") != std::string::npos) {
            EXPECT_NE(
                std::find(p.cacheDirectories.begin(), p.cacheDirectories.end(),
                          h.home / "snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data"),
                p.cacheDirectories.end());
        }
    }
}

}  // namespace
