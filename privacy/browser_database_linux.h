// The SQLite side of the browsers' traces: walks over cookie and history rows
// that delete as they go, and whole-database clean-ups. Every database is
// opened read-write without ever being created, and every walk or clean-up
// writes in one IMMEDIATE transaction, so that a browser sees either none or
// all of it and a failure leaves the file as it was.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "url_cache.h"

// Databases the cleaner left with nothing more to do, each with the state of
// its files then. While the file and its write-ahead log stay as they were,
// the same walk or script would find nothing, so the database is not even
// opened: opening a WAL database makes and removes its -wal and -shm files,
// which was most of what a cycle over clean profiles cost.
class CleanDatabases {
public:
    // `work` names the walk or script (the address of its queries).
    bool Unchanged(const std::filesystem::path& database, const void* work) const;
    void Remember(const std::filesystem::path& database, const void* work);

private:
    std::map<std::pair<std::string, const void*>, std::string> m_states;
};

struct DatabaseAccess {
    // How long to wait for a browser's lock before leaving the database for
    // the next cycle.
    std::chrono::milliseconds busyTimeout{100};
    // 0: one commit per walk. Otherwise a commit after this many deleted
    // entries (only for comparisons in the benchmark).
    std::size_t entriesPerCommit = 0;
    // Where walks and scripts that left nothing to do are remembered; none
    // when null. Used by one thread at a time.
    CleanDatabases* clean = nullptr;
};

// Statements run together in one transaction: all of `required` must run,
// or nothing is kept; then each of `optional`, skipped when it names a table
// or column the database lacks. Each is prepared just before it runs, so a
// later one may name a table an earlier one made.
struct DatabaseScript {
    std::vector<const char*> required;
    std::vector<const char*> optional;
};

// What a walk over one kind of row needs: the rows in key order after ?1,
// at most ?2 of them, as (key, source URL name); the statements that delete
// one entry, run with ?1 = its key, and what to do instead when the entry is
// kept; and the clean-ups of what those deletes
// leave behind, run once before the commit (each skipped when its table is
// missing).
struct RowWalkQueries {
    std::uint32_t entryType = 0;
    const char* select = nullptr;
    std::vector<const char*> deleteEntry;
    // Run with ?1 = the key when the last statement of deleteEntry removed
    // nothing (an entry that is kept, only reset); the optional ones are
    // skipped when the browser's version lacks what they name.
    std::vector<const char*> whenKept;
    std::vector<const char*> whenKeptOptional;
    std::vector<const char*> cleanUp;
    // The same result as deleting every entry of the walk one by one, in a
    // few statements over whole tables: run when the walk is asked to delete
    // everything before it has returned an entry. Its failure undoes it, and
    // the walk then goes entry by entry.
    DatabaseScript deleteAll;
};

const RowWalkQueries& FirefoxCookieWalk();
const RowWalkQueries& FirefoxHistoryWalk();
const RowWalkQueries& ChromiumCookieWalk();
const RowWalkQueries& ChromiumHistoryWalk();

const DatabaseScript& FirefoxClearHistory();
const DatabaseScript& ChromiumClearHistory();
const DatabaseScript& FirefoxBlankTypedAddresses();
const DatabaseScript& ChromiumBlankTypedAddresses();

// A walk over the rows of one database. It yields nothing when the database
// is missing, is not a database, lacks the expected tables, or is locked.
class RowWalk final : public IUrlCacheWalk {
public:
    RowWalk(const std::filesystem::path& database, const RowWalkQueries& queries,
            DatabaseAccess access);
    // Commits what was deleted.
    ~RowWalk() override;
    RowWalk(const RowWalk&) = delete;
    RowWalk& operator=(const RowWalk&) = delete;

    const UrlCacheEntry* Next() override;
    bool DeleteCurrent() override;
    // Set-based (RowWalkQueries::deleteAll) when nothing was walked yet and
    // the database has no triggers of its own that a statement per entry
    // would meet differently; otherwise entry by entry.
    std::size_t DeleteAll(const std::stop_token& stop, std::uint32_t skipTypes = 0) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Runs the script on the database; false when nothing was changed because the
// database is missing, unexpected, locked or failed part-way.
bool RunDatabaseScript(const std::filesystem::path& database, const DatabaseScript& script,
                       DatabaseAccess access);
