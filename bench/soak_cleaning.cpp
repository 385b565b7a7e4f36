// The cleaning worker's soak: a thousand restarts over a generated home with
// a Firefox and a Chromium profile, each stopped after a random moment so that
// many stops land in the middle of a cycle. Between two restarts the
// "browser" adds visits, cookies, cache entries and now and then a bookmark.
// The databases must stay whole and the bookmarks must stay.
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "browser_trace_store_linux.h"
#include "cache_entry_files_linux.h"
#include "cleaning_worker.h"
#include "soak.h"

namespace soak {

namespace {

namespace fs = std::filesystem;

// One connection to one database of the generated profile. Opening never
// creates: a database that went missing is a failure.
class Db {
public:
    Db(const fs::path& file, bool create = false) : m_file(file) {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(file.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
            m_error = file.string() + ": cannot open: " + sqlite3_errmsg(m_db);
            return;
        }
        // The cleaner may hold the write lock for a moment after a stop.
        sqlite3_busy_timeout(m_db, 5000);
        // The soak's own writes need not survive a power cut.
        Exec("PRAGMA synchronous=OFF");
    }
    ~Db() { sqlite3_close_v2(m_db); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    bool Exec(const std::string& sql) {
        if (!m_error.empty()) {
            return false;
        }
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            m_error = m_file.filename().string() + ": " + (error ? error : "?") + " in " +
                      sql.substr(0, 80);
        }
        sqlite3_free(error);
        return m_error.empty();
    }
    // The first column of the first row; -1 on an error.
    long long Number(const std::string& sql) {
        const std::string text = Text(sql);
        return m_error.empty() ? std::atoll(text.c_str()) : -1;
    }
    std::string Text(const std::string& sql) {
        if (!m_error.empty()) {
            return {};
        }
        sqlite3_stmt* stmt = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            m_error = m_file.filename().string() + ": " + sqlite3_errmsg(m_db);
        } else if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        }
        sqlite3_finalize(stmt);
        return value;
    }
    const std::string& Error() const { return m_error; }

private:
    fs::path m_file;
    sqlite3* m_db = nullptr;
    std::string m_error;
};

std::string Schema(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    std::string sql, line;
    while (std::getline(in, line)) {
        if (line.rfind("CREATE TABLE sqlite_", 0) != 0) {  // SQLite makes its own
            sql += line + "\n";
        }
    }
    return sql;
}

std::string Series(long long from, long long count) {
    return "WITH RECURSIVE n(i) AS (SELECT " + std::to_string(from) +
           " UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(from + count - 1) + ") ";
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

long CountFiles(const fs::path& folder) {
    std::error_code ec;
    long n = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++n;
    }
    return n;
}

// The generated home: one profile of each browser.
class Profiles {
public:
    explicit Profiles(const fs::path& root) : m_root(root) {
        m_firefox = root / ".mozilla" / "firefox" / "soak.default-esr";
        m_chromium = root / ".config" / "chromium" / "Default";
        m_firefoxCache = m_firefox / "cache2" / "entries";
        m_chromiumCache = m_chromium / "Cache" / "Cache_Data";
    }

    BrowserHome Home() const { return {m_root, m_root / ".config", m_root / ".cache"}; }

    std::string Create(const fs::path& schemas) {
        fs::create_directories(m_firefoxCache);
        fs::create_directories(m_chromiumCache);
        WriteFile(m_root / ".mozilla" / "firefox" / "profiles.ini",
                  "[Profile0]\nName=default-esr\nIsRelative=1\nPath=soak.default-esr\n"
                  "Default=1\n");
        WriteFile(m_root / ".config" / "chromium" / "Local State",
                  R"({"profile":{"info_cache":{"Default":{"name":"Person 1"}}}})");
        const struct {
            fs::path file;
            const char* schema;
            bool wal;
        } databases[] = {
            {m_firefox / "places.sqlite", "firefox153esr_places.sql", true},
            {m_firefox / "cookies.sqlite", "firefox153esr_cookies.sql", true},
            {m_chromium / "History", "chromium156_History.sql", false},
            {m_chromium / "Cookies", "chromium156_Cookies.sql", false},
        };
        for (const auto& d : databases) {
            const std::string schema = Schema(schemas, d.schema);
            if (schema.empty()) {
                return "no schema " + (schemas / d.schema).string();
            }
            Db db(d.file, true);
            db.Exec(std::string(d.wal ? "PRAGMA journal_mode=WAL;" : "") + schema);
            if (!db.Error().empty()) {
                return db.Error();
            }
        }
        return {};
    }

    // What a browser adds between two cleanings: `visits` visited pages in
    // each browser (every tenth typed), half as many cookies, `cacheEntries`
    // cache entries each, and one bookmarked page when `bookmark` is set.
    std::string Add(long long visits, long long cacheEntries, bool bookmark) {
        const long long from = m_next;
        m_next += visits;
        const std::string n = Series(from, visits);
        const std::string cookies = Series(from, std::max(1LL, visits / 2));
        {
            Db places(m_firefox / "places.sqlite");
            places.Exec(
                "BEGIN;"
                "WITH RECURSIVE o(v) AS (SELECT 1 UNION ALL SELECT v + 1 FROM o WHERE v < 50)"
                " INSERT OR IGNORE INTO moz_origins(id, prefix, host, frecency)"
                " SELECT v, 'https://', 'site' || v || '.example', 100 FROM o;" +
                n +
                "INSERT INTO moz_places(id, url, title, rev_host, visit_count, typed, frecency,"
                " last_visit_date, guid, foreign_count, url_hash, origin_id)"
                " SELECT i, 'https://site' || (i % 50 + 1) || '.example/page/' || i, 'Page ' || i,"
                " 'elpmaxe.' || (i % 50 + 1) || 'etis.', 1, i % 10 = 0, 100,"
                " 1700000000000000 + i, printf('g%011d', i), 0, i, i % 50 + 1 FROM n;" +
                n +
                "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type)"
                " SELECT i, 1700000000000000 + i, CASE WHEN i % 10 = 0 THEN 2 ELSE 1 END FROM n;" +
                n +
                "INSERT INTO moz_inputhistory(place_id, input, use_count)"
                " SELECT i, 'site', 1 FROM n WHERE i % 10 = 0;" +
                (bookmark ? "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid)"
                            " VALUES(1, " +
                                std::to_string(from) + ", 3, " + std::to_string(m_bookmarks) +
                                ", 'Mark', printf('b%011d', " + std::to_string(from) +
                                "));"
                                "UPDATE moz_places SET foreign_count = 1 WHERE id = " +
                                std::to_string(from) + ";"
                          : std::string()) +
                "COMMIT;");
            if (!places.Error().empty()) {
                return places.Error();
            }
        }
        if (bookmark) {
            ++m_bookmarks;
        }
        {
            Db jar(m_firefox / "cookies.sqlite");
            jar.Exec(cookies +
                     "INSERT INTO moz_cookies(originAttributes, name, value, host, path, expiry,"
                     " lastAccessed, creationTime, isSecure, isHttpOnly)"
                     " SELECT '', 'c' || i, 'value' || i, '.site' || (i % 50) || '.example', '/',"
                     " 1900000000, 1700000000000000, 1700000000000000, 1, 0 FROM n;");
            if (!jar.Error().empty()) {
                return jar.Error();
            }
        }
        {
            Db history(m_chromium / "History");
            history.Exec("BEGIN;" + n +
                         "INSERT INTO urls(id, url, title, visit_count, typed_count,"
                         " last_visit_time)"
                         " SELECT i, 'https://site' || (i % 50 + 1) || '.example/page/' || i,"
                         " 'Page ' || i, 1, i % 10 = 0, 13300000000000000 + i FROM n;" +
                         n +
                         "INSERT INTO visits(id, url, visit_time, transition)"
                         " SELECT i, i, 13300000000000000 + i, 805306368 FROM n;" +
                         n + "INSERT INTO visit_source(id, source) SELECT i, 0 FROM n;COMMIT;");
            if (!history.Error().empty()) {
                return history.Error();
            }
        }
        {
            Db jar(m_chromium / "Cookies");
            jar.Exec(cookies +
                     "INSERT INTO cookies SELECT 13300000000000000 + i, '.site' || (i % 50) ||"
                     " '.example', '', 'c' || i, '', x'763130', '/', 13400000000000000, 1, 0,"
                     " 13300000000000000, 1, 1, 1, -1, 2, 443, 13300000000000000, 0, 0 FROM n;");
            if (!jar.Error().empty()) {
                return jar.Error();
            }
        }
        for (long long i = 0; i < cacheEntries; ++i) {
            const std::string url = "https://cached.example/" + std::to_string(m_nextCache);
            char firefoxName[48];
            std::snprintf(firefoxName, sizeof firefoxName, "%040llX", m_nextCache);
            char chromiumName[32];
            std::snprintf(chromiumName, sizeof chromiumName, "%016llx", m_nextCache);
            privacytest::WriteFirefoxCacheEntry(m_firefoxCache, firefoxName, url);
            privacytest::WriteChromiumCacheEntry(m_chromiumCache, chromiumName, url);
            ++m_nextCache;
        }
        return {};
    }

    // Visits, cookies and cache entries left, or -1 with `error` set.
    long long Traces(std::string& error) {
        long long total = 0;
        const struct {
            fs::path file;
            const char* count;
        } queries[] = {
            {m_firefox / "places.sqlite", "SELECT count(*) FROM moz_historyvisits"},
            {m_firefox / "cookies.sqlite", "SELECT count(*) FROM moz_cookies"},
            {m_chromium / "History", "SELECT count(*) FROM visits"},
            {m_chromium / "Cookies", "SELECT count(*) FROM cookies"},
        };
        for (const auto& q : queries) {
            Db db(q.file);
            const long long n = db.Number(q.count);
            if (n < 0) {
                error = db.Error();
                return -1;
            }
            total += n;
        }

        return total + CountFiles(m_firefoxCache) + CountFiles(m_chromiumCache);
    }

    // Every database whole, and every bookmark still on its page; empty
    // when so.
    std::string Check() {
        for (const fs::path& file : {m_firefox / "places.sqlite", m_firefox / "cookies.sqlite",
                                     m_chromium / "History", m_chromium / "Cookies"}) {
            Db db(file);
            const std::string result = db.Text("PRAGMA integrity_check");
            if (!db.Error().empty()) {
                return db.Error();
            }
            if (result != "ok") {
                return file.string() + ": integrity_check says " + result;
            }
        }
        Db places(m_firefox / "places.sqlite");
        const long long marks = places.Number(
            "SELECT count(*) FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk"
            " WHERE p.url LIKE 'https://site%'");
        if (marks != m_bookmarks) {
            return "bookmarked pages: " + std::to_string(marks) + " of " +
                   std::to_string(m_bookmarks) + " left " + places.Error();
        }
        return {};
    }

    long long Bookmarks() const { return m_bookmarks; }

private:
    fs::path m_root;
    fs::path m_firefox, m_chromium, m_firefoxCache, m_chromiumCache;
    long long m_next = 1;
    long long m_nextCache = 1;
    long long m_bookmarks = 0;
};

// Waits (bounded) until the profiles hold fewer traces than `before`.
bool RemovedSome(Profiles& profiles, long long before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string error;
    for (;;) {
        const long long now = profiles.Traces(error);
        if (now >= 0 && now < before) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

int RunCleaning(const Options& options) {
    const char* mode = "cleaning";
    Failures failures;
    const auto began = std::chrono::steady_clock::now();
    const Levels start = Measure();
    Levels warm, end;
    std::string work = (fs::path(options.workDir) / "quillon-soak-XXXXXX").string();
    if (::mkdtemp(work.data()) == nullptr) {
        std::fprintf(stderr, "soak %s: cannot make a folder under %s\n", mode,
                     options.workDir.c_str());
        return 1;
    }
    const int restarts = options.restarts;
    const int warmUp = std::min(restarts, std::max(3, restarts / 20));
    long untouched = 0, partly = 0, whole = 0;
    long long removedTraces = 0;
    // A first cycle over a larger history, then a browser's worth of new
    // traces before every restart.
    const long long initialVisits = restarts >= 500 ? 20000 : 2000;
    constexpr long long kVisitsPerRestart = 200;
    constexpr long long kCacheEntriesPerRestart = 5;
    {
        Profiles profiles(work);
        std::string error = profiles.Create(options.schemas);
        if (error.empty()) {
            error = profiles.Add(initialVisits, 20, true);
        }
        if (!error.empty()) {
            std::fprintf(stderr, "soak %s: %s\n", mode, error.c_str());
            fs::remove_all(work);
            return 1;
        }
        BrowserTraceStore store(profiles.Home());
        CleaningWorker worker(store.Stores());
        Random random(options.seed);
        for (int n = 0; n < restarts && failures.Count() < 20; ++n) {
            const std::string name = "restart " + std::to_string(n) + ": ";
            Progress("cleaning: adding traces");
            if (n > 0) {
                error = profiles.Add(kVisitsPerRestart, kCacheEntriesPerRestart, n % 10 == 0);
                if (!error.empty()) {
                    failures.Add(name + "adding traces: " + error);
                    continue;
                }
            }
            const long long before = profiles.Traces(error);
            removedTraces += before;
            Progress("cleaning: a restart and its stop");
            worker.Restart(1, 1, 1, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(
                random.Between(0, static_cast<std::uint64_t>(options.stopWithinMs) * 1000)));
            if (n + 1 == restarts && partly + whole == 0) {
                // No stop so far came late enough for the cleaner to remove
                // anything (a machine busy elsewhere): the last waits until it has.
                Progress("cleaning: waiting for the cleaner to remove something");
                RemovedSome(profiles, before);
            }
            worker.Stop();
            const long long after = profiles.Traces(error);
            if (before < 0 || after < 0) {
                failures.Add(name + "counting traces: " + error);
                continue;
            }
            removedTraces -= after;
            (after == 0 ? whole : after < before ? partly : untouched) += 1;
            if (n % 100 == 99 || n + 1 == restarts) {
                error = profiles.Check();
                if (!error.empty()) {
                    failures.Add(name + error);
                }
            }
            if (n + 1 == warmUp) {
                warm = Measure();
            }
        }
        std::printf(
            "%s: %d restarts over %lld + %lld visits per restart in %.1f s; "
            "%lld bookmarks kept\n",
            mode, restarts, initialVisits, kVisitsPerRestart,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
            profiles.Bookmarks());
    }
    end = Measure();
    std::error_code ec;
    fs::remove_all(work, ec);
    std::printf(
        "%s: stopped before removing anything %ld, mid-cycle with traces left %ld, "
        "after everything was removed %ld; %lld traces removed\n",
        mode, untouched, partly, whole, removedTraces);
    if (partly + whole == 0) {
        failures.Add("no restart removed anything: the cleaner never ran");
    }
    return Verdict(mode, start, warm, end, options, failures);
}

}  // namespace soak
