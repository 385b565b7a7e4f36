#include "browser_database_linux.h"

#include <sys/stat.h>

#include <limits>
#include <string_view>
#include <system_error>
#include <utility>

#include "sqlite_handles_linux.h"

namespace fs = std::filesystem;

namespace {

using sqlite::Connection;
using sqlite::Prepare;
using sqlite::Statement;

// Rows read per query; the select is not kept open while rows are deleted.
constexpr int kBatchRows = 512;

bool Exec(sqlite3* db, const char* sql);

// Never creates the file: a browser database that is not there stays absent.
Connection OpenExisting(const fs::path& file, const DatabaseAccess& access) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return nullptr;
    }
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    sqlite3_busy_timeout(db.get(), static_cast<int>(access.busyTimeout.count()));
    sqlite3_extended_result_codes(db.get(), 1);
    // A walk's pages stay in memory until its one commit: spilling them
    // early means a journal sync per spill, which made a large walk take
    // seconds. Per connection; the file is not changed by it.
    Exec(db.get(), "PRAGMA cache_spill = OFF");
    Exec(db.get(), "PRAGMA cache_size = -65536");
    return db;
}

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs a prepared statement to its end with ?1 = key (when it has one).
bool RunWithKey(sqlite3_stmt* stmt, sqlite3_int64 key) {
    if (sqlite3_bind_parameter_count(stmt) >= 1) {
        sqlite3_bind_int64(stmt, 1, key);
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE;
}

// The IMMEDIATE transaction of one walk or script: rolled back unless
// committed, so an early return or a failure leaves the file untouched.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db) { m_open = Exec(db, "BEGIN IMMEDIATE"); }
    ~Transaction() { Rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Open() const {
        // SQLite rolls back by itself after some errors (disk full, I/O).
        return m_open && sqlite3_get_autocommit(m_db) == 0;
    }
    bool Commit() {
        if (!Open()) {
            return false;
        }
        if (!Exec(m_db, "COMMIT")) {
            Rollback();
            return false;
        }
        m_open = false;
        return true;
    }
    bool Restart() { return Commit() && (m_open = Exec(m_db, "BEGIN IMMEDIATE")); }
    void Rollback() {
        if (m_open && sqlite3_get_autocommit(m_db) == 0) {
            Exec(m_db, "ROLLBACK");
        }
        m_open = false;
    }

private:
    sqlite3* m_db;
    bool m_open = false;
};

constexpr const char* kFirefoxNotBookmarked =
    "foreign_count = 0"
    " AND NOT EXISTS (SELECT 1 FROM moz_bookmarks WHERE fk = moz_places.id)"
    " AND NOT EXISTS (SELECT 1 FROM moz_keywords WHERE place_id = moz_places.id)";

// Every place with a trace of a visit, and every place nothing else refers
// to; bookmarks that were never visited are not history, and a kept place
// with nothing left to reset is not walked again every cycle.
const std::string kFirefoxHistoryPlace =
    std::string("((") + kFirefoxNotBookmarked +
    ") OR visit_count <> 0 OR last_visit_date IS NOT NULL OR typed <> 0"
    " OR EXISTS (SELECT 1 FROM moz_historyvisits WHERE place_id = moz_places.id))";

// "DELETE FROM t" of a table that holds no row: emptying a table writes its
// page even when there is nothing in it, and the clean-ups run every ten
// seconds over databases that are mostly clean already.
bool EmptiesAnEmptyTable(sqlite3* db, std::string_view sql) {
    constexpr std::string_view kDeleteFrom = "DELETE FROM ";
    if (!sql.starts_with(kDeleteFrom) ||
        sql.find(' ', kDeleteFrom.size()) != std::string_view::npos) {
        return false;
    }
    std::string probe = "SELECT 1 FROM " + std::string(sql.substr(kDeleteFrom.size())) + " LIMIT 1";
    Statement stmt = Prepare(db, probe.c_str());
    return stmt && sqlite3_step(stmt.get()) == SQLITE_DONE;
}

// Runs the required statements, then the optional ones that the database
// has what they name for; false at the first failure.
bool RunScript(sqlite3* db, const DatabaseScript& script) {
    auto run = [db](const char* sql, bool required) {
        Statement stmt = Prepare(db, sql);
        if (!stmt) {
            return !required;
        }
        return EmptiesAnEmptyTable(db, sql) || RunWithKey(stmt.get(), 0);
    };
    for (const char* sql : script.required) {
        if (!run(sql, true)) {
            return false;
        }
    }
    for (const char* sql : script.optional) {
        if (!run(sql, false)) {
            return false;
        }
    }
    return true;
}

// Runs body inside a savepoint of the open transaction: what it did is
// undone when it fails, the rest of the transaction stays.
template <class Body>
bool Undoable(sqlite3* db, Body body) {
    if (!Exec(db, "SAVEPOINT part")) {
        return false;
    }
    bool ok = body();
    // SQLite may have given up the whole transaction (disk full, I/O).
    if (sqlite3_get_autocommit(db) == 0) {
        if (!ok) {
            Exec(db, "ROLLBACK TO part");
        }
        Exec(db, "RELEASE part");
    }
    return ok;
}

// Firefox keeps its counters and orphans up to date with TEMP triggers of its
// own, which an outside writer does not have.
const std::vector<const char*>& FirefoxOrphans() {
    static const std::vector<const char*> statements{
        "DELETE FROM moz_historyvisits WHERE place_id NOT IN (SELECT id FROM moz_places)",
        "DELETE FROM moz_inputhistory WHERE place_id NOT IN (SELECT id FROM moz_places)",
        "DELETE FROM moz_historyvisits_extra WHERE visit_id NOT IN"
        " (SELECT id FROM moz_historyvisits)",
        "DELETE FROM moz_places_extra WHERE place_id NOT IN (SELECT id FROM moz_places)",
        "DELETE FROM moz_annos WHERE place_id NOT IN (SELECT id FROM moz_places)",
        "DELETE FROM moz_places_metadata WHERE place_id NOT IN (SELECT id FROM moz_places)"
        " OR referrer_place_id NOT IN (SELECT id FROM moz_places)",
        "DELETE FROM moz_newtab_shortcuts_interaction WHERE place_id NOT IN"
        " (SELECT id FROM moz_places)",
        "DELETE FROM moz_origins WHERE id NOT IN"
        " (SELECT origin_id FROM moz_places WHERE origin_id IS NOT NULL)",
    };
    return statements;
}

const std::vector<const char*>& ChromiumOrphans() {
    static const std::vector<const char*> statements{
        "DELETE FROM visits WHERE url NOT IN (SELECT id FROM urls)",
        "DELETE FROM keyword_search_terms WHERE url_id NOT IN (SELECT id FROM urls)",
        "DELETE FROM segment_usage WHERE segment_id IN"
        " (SELECT id FROM segments WHERE url_id NOT IN (SELECT id FROM urls))",
        "DELETE FROM segments WHERE url_id NOT IN (SELECT id FROM urls)",
        "DELETE FROM visited_links WHERE link_url_id NOT IN (SELECT id FROM urls)",
        "DELETE FROM visit_source WHERE id NOT IN (SELECT id FROM visits)",
        "DELETE FROM content_annotations WHERE visit_id NOT IN (SELECT id FROM visits)",
        "DELETE FROM context_annotations WHERE visit_id NOT IN (SELECT id FROM visits)",
        "DELETE FROM clusters_and_visits WHERE visit_id NOT IN (SELECT id FROM visits)",
        "DELETE FROM cluster_visit_duplicates WHERE visit_id NOT IN (SELECT id FROM visits)"
        " OR duplicate_visit_id NOT IN (SELECT id FROM visits)",
    };
    return statements;
}

std::vector<const char*> Concat(std::vector<const char*> a, const std::vector<const char*>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

const RowWalkQueries& FirefoxCookieWalk() {
    static const RowWalkQueries queries{
        kCookieCacheEntry,
        "SELECT id, 'Cookie:' || ifnull(name, '') || '@' || ifnull(host, '') || ifnull(path, '')"
        " FROM moz_cookies WHERE id > ?1 ORDER BY id LIMIT ?2",
        {"DELETE FROM moz_cookies WHERE id = ?1"},
        {},
        {},
        {},
        {{"DELETE FROM moz_cookies"}, {}},
    };
    return queries;
}

const RowWalkQueries& FirefoxHistoryWalk() {
    static const std::string select = std::string(
                                          "SELECT id, 'Visited: ' || ifnull(url, '') FROM "
                                          "moz_places WHERE id > ?1 AND ") +
                                      kFirefoxHistoryPlace + " ORDER BY id LIMIT ?2";
    static const std::string deletePlace =
        std::string("DELETE FROM moz_places WHERE id = ?1 AND ") + kFirefoxNotBookmarked;
    // All at once: the places that stay are set aside, reset as the walk
    // resets them, and put back into an emptied table. Emptying whole tables
    // is what SQLite does fastest; deleting 100,000 rows from moz_places and
    // its eight indexes one by one is what took the time.
    static const std::string reset =
        std::string("CREATE TEMP TABLE reset_places AS SELECT id FROM moz_places WHERE NOT (") +
        kFirefoxNotBookmarked + ") AND " + kFirefoxHistoryPlace;
    static const std::string keep =
        std::string("CREATE TEMP TABLE kept_places AS SELECT * FROM moz_places WHERE NOT (") +
        kFirefoxNotBookmarked + ")";
    static const RowWalkQueries queries{
        kUrlHistoryCacheEntry,
        select.c_str(),
        // The visits of deleted places go in one pass before the commit.
        {deletePlace.c_str()},
        // A bookmarked place stays, with no trace of having been visited;
        // newer versions are asked to recompute its frecency.
        {
            "DELETE FROM moz_historyvisits WHERE place_id = ?1",
            "DELETE FROM moz_inputhistory WHERE place_id = ?1",
            "UPDATE moz_places SET visit_count = 0, last_visit_date = NULL, typed = 0,"
            " frecency = 0 WHERE id = ?1",
        },
        {
            "UPDATE moz_places SET recalc_frecency = 1 WHERE id = ?1",
            "UPDATE moz_places SET recalc_alt_frecency = 1 WHERE id = ?1",
        },
        FirefoxOrphans(),
        {
            {
                reset.c_str(),
                keep.c_str(),
                "UPDATE temp.kept_places SET visit_count = 0, last_visit_date = NULL, typed = 0,"
                " frecency = 0 WHERE id IN temp.reset_places",
                "DELETE FROM moz_historyvisits",
                "DELETE FROM moz_inputhistory",
                "DELETE FROM moz_places",
                "INSERT INTO moz_places SELECT * FROM temp.kept_places",
            },
            {
                "UPDATE moz_places SET recalc_frecency = 1 WHERE id IN temp.reset_places",
                "UPDATE moz_places SET recalc_alt_frecency = 1 WHERE id IN temp.reset_places",
            },
        },
    };
    return queries;
}

const RowWalkQueries& ChromiumCookieWalk() {
    static const RowWalkQueries queries{
        kCookieCacheEntry,
        "SELECT rowid, 'Cookie:' || name || '@' || host_key || path"
        " FROM cookies WHERE rowid > ?1 ORDER BY rowid LIMIT ?2",
        {"DELETE FROM cookies WHERE rowid = ?1"},
        {},
        {},
        {},
        {{"DELETE FROM cookies"}, {}},
    };
    return queries;
}

const RowWalkQueries& ChromiumHistoryWalk() {
    static const RowWalkQueries queries{
        kUrlHistoryCacheEntry,
        "SELECT id, 'Visited: ' || ifnull(url, '') FROM urls WHERE id > ?1 ORDER BY id LIMIT ?2",
        // The visits of deleted pages go in one pass before the commit.
        {"DELETE FROM urls WHERE id = ?1"},
        {},
        {},
        ChromiumOrphans(),
        // Every page goes, and with it every row that names a page or a visit.
        {
            {"DELETE FROM urls", "DELETE FROM visits"},
            {
                "DELETE FROM keyword_search_terms",
                "DELETE FROM segment_usage",
                "DELETE FROM segments",
                "DELETE FROM visited_links",
                "DELETE FROM visit_source",
                "DELETE FROM content_annotations",
                "DELETE FROM context_annotations",
                "DELETE FROM clusters_and_visits",
                "DELETE FROM cluster_visit_duplicates",
            },
        },
    };
    return queries;
}

const DatabaseScript& FirefoxClearHistory() {
    static const std::string deletePlaces =
        std::string("DELETE FROM moz_places WHERE ") + kFirefoxNotBookmarked;
    static const DatabaseScript script{
        {
            "DELETE FROM moz_historyvisits",
            "DELETE FROM moz_inputhistory",
            deletePlaces.c_str(),
            "UPDATE moz_places SET visit_count = 0, last_visit_date = NULL, typed = 0,"
            " frecency = 0 WHERE visit_count <> 0 OR last_visit_date IS NOT NULL OR typed <> 0",
        },
        Concat(
            {
                "UPDATE moz_places SET recalc_frecency = 1 WHERE frecency = 0"
                " AND recalc_frecency = 0",
                "UPDATE moz_places SET recalc_alt_frecency = 1 WHERE frecency = 0"
                " AND recalc_alt_frecency = 0",
                "DELETE FROM moz_places_metadata",
                "DELETE FROM moz_places_metadata_search_queries",
                // Page annotations, kept pages' too (a bookmark's own are in
                // moz_items_annos and stay).
                "DELETE FROM moz_annos",
                "DELETE FROM moz_meta WHERE key LIKE 'origin\\_frecency\\_%' ESCAPE '\\'",
            },
            FirefoxOrphans()),
    };
    return script;
}

const DatabaseScript& ChromiumClearHistory() {
    static const DatabaseScript script{
        {"DELETE FROM visits", "DELETE FROM urls"},
        {
            "DELETE FROM keyword_search_terms",
            "DELETE FROM segments",
            "DELETE FROM segment_usage",
            "DELETE FROM visit_source",
            "DELETE FROM visited_links",
            "DELETE FROM downloads",
            "DELETE FROM downloads_url_chains",
            "DELETE FROM downloads_slices",
            "DELETE FROM clusters",
            "DELETE FROM clusters_and_visits",
            "DELETE FROM cluster_keywords",
            "DELETE FROM cluster_visit_duplicates",
            "DELETE FROM content_annotations",
            "DELETE FROM context_annotations",
        },
    };
    return script;
}

const DatabaseScript& FirefoxBlankTypedAddresses() {
    static const DatabaseScript script{
        {"UPDATE moz_places SET typed = 0 WHERE typed <> 0", "DELETE FROM moz_inputhistory"},
        {},
    };
    return script;
}

const DatabaseScript& ChromiumBlankTypedAddresses() {
    static const DatabaseScript script{
        {"UPDATE urls SET typed_count = 0 WHERE typed_count <> 0"},
        {},
    };
    return script;
}

namespace {

// Identity, size and time of a file, or "-" when there is none.
std::string FileState(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return "-";
    }
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

std::string DatabaseState(const fs::path& database) {
    return FileState(database) + " " + FileState(database.string() + "-wal") + " " +
           FileState(database.string() + "-journal");
}

}  // namespace

bool CleanDatabases::Unchanged(const fs::path& database, const void* work) const {
    auto it = m_states.find({database.string(), work});
    return it != m_states.end() && it->second == DatabaseState(database);
}

void CleanDatabases::Remember(const fs::path& database, const void* work) {
    m_states[{database.string(), work}] = DatabaseState(database);
}

struct RowWalk::State {
    fs::path database;
    Connection db;
    const RowWalkQueries* queries = nullptr;
    DatabaseAccess access;
    Statement select;
    std::vector<Statement> deletes;
    std::vector<Statement> whenKept;
    std::unique_ptr<Transaction> transaction;
    std::vector<std::pair<sqlite3_int64, std::string>> batch;
    std::size_t position = 0;
    sqlite3_int64 lastKey = std::numeric_limits<sqlite3_int64>::min();
    bool exhausted = false;
    bool current = false;
    bool walked = false;  // Next has returned an entry
    bool committed = false;
    std::size_t deleted = 0;
    std::size_t sinceCommit = 0;
    UrlCacheEntry entry;

    bool Usable() const { return transaction && transaction->Open(); }

    // The walk's connection closed, and the database remembered as clean.
    void CloseClean() {
        transaction.reset();
        select.reset();
        deletes.clear();
        whenKept.clear();
        db.reset();
        if (access.clean != nullptr) {
            access.clean->Remember(database, queries);
        }
    }

    bool HasTriggers() const {
        Statement stmt = Prepare(db.get(), "SELECT 1 FROM sqlite_master WHERE type = 'trigger'");
        return !stmt || sqlite3_step(stmt.get()) != SQLITE_DONE;
    }

    bool FetchBatch() {
        batch.clear();
        position = 0;
        sqlite3_bind_int64(select.get(), 1, lastKey);
        sqlite3_bind_int(select.get(), 2, kBatchRows);
        int rc;
        while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(select.get(), 1);
            batch.emplace_back(sqlite3_column_int64(select.get(), 0),
                               name ? reinterpret_cast<const char*>(name) : "");
        }
        sqlite3_reset(select.get());
        if (rc != SQLITE_DONE) {
            batch.clear();
            return false;
        }
        if (!batch.empty()) {
            lastKey = batch.back().first;
        }
        return !batch.empty();
    }

    // Clean-ups, then the one commit of the walk.
    void Finish() {
        if (!Usable()) {
            return;
        }
        if (deleted > 0) {
            for (const char* sql : queries->cleanUp) {
                if (Statement stmt = Prepare(db.get(), sql)) {
                    RunWithKey(stmt.get(), 0);
                }
            }
        }
        committed = transaction->Commit();
    }
};

RowWalk::RowWalk(const fs::path& database, const RowWalkQueries& queries, DatabaseAccess access)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.queries = &queries;
    s.access = access;
    s.database = database;
    if (access.clean != nullptr && access.clean->Unchanged(database, &queries)) {
        return;
    }
    s.db = OpenExisting(database, access);
    if (!s.db) {
        return;
    }
    // Every statement is prepared before anything is written: a database
    // without the tables and columns they name is not touched at all.
    s.select = Prepare(s.db.get(), queries.select);
    if (!s.select) {
        return;
    }
    for (const char* sql : queries.deleteEntry) {
        Statement stmt = Prepare(s.db.get(), sql);
        if (!stmt) {
            return;
        }
        s.deletes.push_back(std::move(stmt));
    }
    for (const char* sql : queries.whenKept) {
        Statement stmt = Prepare(s.db.get(), sql);
        if (!stmt) {
            return;
        }
        s.whenKept.push_back(std::move(stmt));
    }
    for (const char* sql : queries.whenKeptOptional) {
        if (Statement stmt = Prepare(s.db.get(), sql)) {
            s.whenKept.push_back(std::move(stmt));
        }
    }
    s.transaction = std::make_unique<Transaction>(s.db.get());
}

RowWalk::~RowWalk() {
    // Statements go before the connection, and the transaction before them.
    if (m_state->Usable()) {
        m_state->Finish();
    }
}

const UrlCacheEntry* RowWalk::Next() {
    State& s = *m_state;
    s.current = false;
    if (s.exhausted || !s.Usable()) {
        return nullptr;
    }
    if (s.position >= s.batch.size() && !s.FetchBatch()) {
        s.exhausted = true;
        s.Finish();
        return nullptr;
    }
    const auto& row = s.batch[s.position++];
    s.entry.sourceUrlName = row.second;
    s.entry.type = s.queries->entryType;
    s.current = true;
    s.walked = true;
    return &s.entry;
}

bool RowWalk::DeleteCurrent() {
    State& s = *m_state;
    if (!s.current || !s.Usable()) {
        return false;
    }
    s.current = false;
    sqlite3_int64 key = s.batch[s.position - 1].first;
    // A failed statement undoes only itself (a row a trigger protects, say);
    // the walk goes on unless SQLite gave up the whole transaction. An entry
    // of several statements is undone whole, never left half-deleted.
    auto runAll = [&s, key](const std::vector<Statement>& statements) {
        auto run = [&statements, key] {
            for (const Statement& stmt : statements) {
                if (!RunWithKey(stmt.get(), key)) {
                    return false;
                }
            }
            return true;
        };
        return statements.size() > 1 ? Undoable(s.db.get(), run) : run();
    };
    if (!runAll(s.deletes)) {
        return false;
    }
    if (!s.whenKept.empty() && sqlite3_changes(s.db.get()) == 0 && !runAll(s.whenKept)) {
        return false;
    }
    ++s.deleted;
    if (s.access.entriesPerCommit != 0 && ++s.sinceCommit >= s.access.entriesPerCommit) {
        s.sinceCommit = 0;
        s.transaction->Restart();
    }
    return true;
}

std::size_t RowWalk::DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes) {
    State& s = *m_state;
    if (!s.walked && !s.exhausted && s.Usable() && s.access.entriesPerCommit == 0 &&
        (s.queries->entryType & skipTypes) == 0 &&
        !s.queries->deleteAll.required.empty()) {
        // An empty table costs one read and no write. FetchBatch leaves the
        // batch unread, so a walk entry by entry still starts at its first row.
        bool done = !s.FetchBatch();
        if (!done && !s.HasTriggers() &&
            Undoable(s.db.get(), [&s] { return RunScript(s.db.get(), s.queries->deleteAll); })) {
            ++s.deleted;
            done = true;
        }
        if (done) {
            s.exhausted = true;
            s.Finish();
        }
    }
    std::size_t failed = s.exhausted ? 0 : IUrlCacheWalk::DeleteAll(stop, skipTypes);
    // Every entry gone and committed: nothing left until the file changes.
    if (failed == 0 && s.committed) {
        s.CloseClean();
    }
    return failed;
}

bool RunDatabaseScript(const fs::path& database, const DatabaseScript& script,
                       DatabaseAccess access) {
    if (access.clean != nullptr && access.clean->Unchanged(database, &script)) {
        return true;
    }
    bool done = false;
    {
        Connection db = OpenExisting(database, access);
        if (!db) {
            return false;
        }
        Transaction transaction(db.get());
        done = transaction.Open() && RunScript(db.get(), script) && transaction.Commit();
    }
    // Closed: a WAL database has put its log back into the file.
    if (done && access.clean != nullptr) {
        access.clean->Remember(database, &script);
    }
    return done;
}
