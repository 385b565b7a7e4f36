#include "registry_store_linux.h"

#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "ascii_text.h"
#include "config_home_linux.h"
#include "sqlite_handles_linux.h"

namespace {

using sqlite::Connection;
using sqlite::Prepare;
using sqlite::Statement;

// Key rows exist so that, as in the registry, a key can exist without values
// and opening a key that was never created fails.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS registry_keys("
    " root INTEGER NOT NULL,"
    " path TEXT NOT NULL COLLATE NOCASE,"
    " PRIMARY KEY(root, path));"
    "CREATE TABLE IF NOT EXISTS registry_values("
    " root INTEGER NOT NULL,"
    " path TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(root, path, name));";

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* stmt, int column) {
    const void* blob = sqlite3_column_blob(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    if (blob == nullptr || size <= 0) {
        return {};
    }
    return std::string(static_cast<const char*>(blob), static_cast<std::size_t>(size));
}

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Opens the database without ever creating or rewriting a file that is not
// ours: SQLite refuses to write a file that is not a database.
Connection Open(const std::filesystem::path& file, bool forWriting,
                std::chrono::milliseconds busyTimeout) {
    if (file.empty()) {
        return nullptr;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (forWriting) {
        std::error_code ec;
        if (!std::filesystem::is_directory(file.parent_path(), ec)) {
            std::filesystem::create_directories(file.parent_path(), ec);
            // Settings may hold proxy credentials one day: owner only.
            std::filesystem::permissions(file.parent_path(), std::filesystem::perms::owner_all, ec);
        }
        flags |= SQLITE_OPEN_CREATE;
    }
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK && !forWriting) {
        // A store we may only read still gives its values.
        db.reset();
        raw = nullptr;
        rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                             nullptr);
        db.reset(raw);
    }
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    const auto ms = busyTimeout.count();
    sqlite3_busy_timeout(db.get(), ms > std::numeric_limits<int>::max()
                                       ? std::numeric_limits<int>::max()
                                       : static_cast<int>(ms));
    if (forWriting) {
        // WAL lets readers go on while a writer commits; FULL makes every
        // commit durable, not only atomic.
        if (!Exec(db.get(), "PRAGMA journal_mode=WAL") ||
            !Exec(db.get(), "PRAGMA synchronous=FULL")) {
            return nullptr;
        }
    } else if (!Exec(db.get(), "PRAGMA query_only=1")) {
        return nullptr;
    }
    return db;
}

// The root itself exists as soon as the store has its tables.
bool KeyExists(sqlite3* db, RegistryRoot root, std::string_view path) {
    if (path.empty()) {
        return Prepare(db, "SELECT 1 FROM registry_values LIMIT 0") != nullptr;
    }
    auto stmt = Prepare(db, "SELECT 1 FROM registry_keys WHERE root=?1 AND path=?2");
    if (!stmt) {
        return false;
    }
    sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
    BindText(stmt.get(), 2, path);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

// Inserts the key and every parent; call inside a transaction.
bool InsertKeyRows(sqlite3* db, RegistryRoot root, std::string_view path) {
    auto stmt = Prepare(db, "INSERT OR IGNORE INTO registry_keys(root, path) VALUES(?1, ?2)");
    if (!stmt) {
        return false;
    }
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '\\') {
            continue;
        }
        sqlite3_reset(stmt.get());
        sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
        BindText(stmt.get(), 2, path.substr(0, i));
        if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
            return false;
        }
    }
    return true;
}

// Runs work inside one IMMEDIATE transaction: taking the write lock up front
// means a busy writer is waited for, not discovered half-way.
template <class Work>
bool InTransaction(sqlite3* db, Work&& work) {
    if (!Exec(db, "BEGIN IMMEDIATE")) {
        return false;
    }
    if (!work() || !Exec(db, "COMMIT")) {
        Exec(db, "ROLLBACK");
        return false;
    }
    return true;
}

}  // namespace

// The open connections and their prepared statements, used under the lock.
// A connection that fails is dropped, and opened again at the next use: the
// file may have been replaced or repaired meanwhile.
struct SqliteRegistryStore::Connections {
    std::mutex lock;
    // Closed last: the last connection to close folds the WAL into the file,
    // which takes a connection allowed to write.
    Connection writer;
    Connection reader;
    Statement keyExists;  // root, path
    Statement query;      // root, path, name

    void DropReader() {
        keyExists.reset();
        query.reset();
        reader.reset();
    }
};

namespace {

// Binds root and path (and name) to a prepared statement for a new run.
sqlite3_stmt* Bound(const sqlite::Statement& stmt, RegistryRoot root, std::string_view path,
                    std::string_view name = {}) {
    sqlite3_reset(stmt.get());
    sqlite3_clear_bindings(stmt.get());
    sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
    BindText(stmt.get(), 2, path);
    if (sqlite3_bind_parameter_count(stmt.get()) >= 3) {
        BindText(stmt.get(), 3, name);
    }
    return stmt.get();
}

class SqliteRegistryKey final : public IRegistryKey {
public:
    SqliteRegistryKey(SqliteRegistryStore& store, RegistryRoot root, std::string path)
        : m_store(store), m_root(root), m_path(std::move(path)) {}

    std::optional<RegistryData> QueryValue(std::string_view name) override;
    bool SetValue(std::string_view name, std::uint32_t type, std::string_view bytes) override;

private:
    SqliteRegistryStore& m_store;
    RegistryRoot m_root;
    std::string m_path;
};

}  // namespace

std::filesystem::path DefaultSettingsDatabasePath() {
    std::filesystem::path base = UserConfigHome();
    return base.empty() ? base : base / "quillon" / "settings.db";
}

SqliteRegistryStore::SqliteRegistryStore(std::filesystem::path database,
                                         std::chrono::milliseconds busyTimeout)
    : m_database(std::move(database)),
      m_busyTimeout(busyTimeout),
      m_connections(std::make_unique<Connections>()) {}

SqliteRegistryStore::~SqliteRegistryStore() = default;

namespace {

// With the lock held: the reading connection and its statements, opened when
// needed; null when the store cannot be read.
SqliteRegistryStore::Connections* Reader(SqliteRegistryStore::Connections& c,
                                         const std::filesystem::path& database,
                                         std::chrono::milliseconds busyTimeout) {
    if (!c.reader) {
        std::error_code ec;
        // Reading must not create the database.
        if (!std::filesystem::is_regular_file(database, ec)) {
            return nullptr;
        }
        c.reader = Open(database, false, busyTimeout);
        if (!c.reader) {
            return nullptr;
        }
        c.keyExists =
            Prepare(c.reader.get(), "SELECT 1 FROM registry_keys WHERE root=?1 AND path=?2");
        c.query = Prepare(c.reader.get(),
                          "SELECT type, data FROM registry_values"
                          " WHERE root=?1 AND path=?2 AND name=?3");
        if (!c.keyExists || !c.query) {
            c.DropReader();  // not our database, or not yet one
            return nullptr;
        }
    }
    return &c;
}

// With the lock held: the writing connection, opened at the first write.
sqlite3* Writer(SqliteRegistryStore::Connections& c, const std::filesystem::path& database,
                std::chrono::milliseconds busyTimeout) {
    if (!c.writer) {
        c.writer = Open(database, true, busyTimeout);
    }
    return c.writer.get();
}

}  // namespace

std::unique_ptr<IRegistryKey> SqliteRegistryStore::OpenKey(RegistryRoot root,
                                                           std::string_view path) {
    Connections& c = *m_connections;
    std::lock_guard lock(c.lock);
    if (!Reader(c, m_database, m_busyTimeout)) {
        return nullptr;
    }
    if (path.empty()) {
        // The root itself exists as soon as the store has its tables.
        return std::make_unique<SqliteRegistryKey>(*this, root, std::string());
    }
    const int rc = sqlite3_step(Bound(c.keyExists, root, path));
    sqlite3_reset(c.keyExists.get());
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE) {
            c.DropReader();
        }
        return nullptr;
    }
    return std::make_unique<SqliteRegistryKey>(*this, root, std::string(path));
}

std::unique_ptr<IRegistryKey> SqliteRegistryStore::CreateKey(RegistryRoot root,
                                                             std::string_view path) {
    Connections& c = *m_connections;
    std::lock_guard lock(c.lock);
    sqlite3* db = Writer(c, m_database, m_busyTimeout);
    if (db == nullptr) {
        return nullptr;
    }
    if (!KeyExists(db, root, path)) {
        bool created =
            InTransaction(db, [&] { return Exec(db, kSchema) && InsertKeyRows(db, root, path); });
        if (!created) {
            c.writer.reset();
            return nullptr;
        }
    }
    return std::make_unique<SqliteRegistryKey>(*this, root, std::string(path));
}

std::optional<RegistryData> SqliteRegistryKey::QueryValue(std::string_view name) {
    return m_store.Query(m_root, m_path, name);
}

bool SqliteRegistryKey::SetValue(std::string_view name, std::uint32_t type,
                                 std::string_view bytes) {
    return m_store.Store(m_root, m_path, name, type, bytes);
}

std::optional<RegistryData> SqliteRegistryStore::Query(RegistryRoot root, std::string_view path,
                                                       std::string_view name) {
    Connections& c = *m_connections;
    std::lock_guard lock(c.lock);
    if (!Reader(c, m_database, m_busyTimeout)) {
        return std::nullopt;
    }
    sqlite3_stmt* stmt = Bound(c.query, root, path, name);
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(stmt);
        if (rc != SQLITE_DONE) {
            c.DropReader();
        }
        return std::nullopt;
    }
    RegistryData data;
    data.type = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 0));
    data.bytes = ColumnBytes(stmt, 1);
    sqlite3_reset(stmt);
    return data;
}

bool SqliteRegistryStore::Store(RegistryRoot root, std::string_view path, std::string_view name,
                                std::uint32_t type, std::string_view bytes) {
    Connections& c = *m_connections;
    std::lock_guard lock(c.lock);
    sqlite3* db = Writer(c, m_database, m_busyTimeout);
    if (db == nullptr) {
        return false;
    }
    const bool stored = InTransaction(db, [&] {
        // The key may have been removed by another process meanwhile.
        if (!InsertKeyRows(db, root, path)) {
            return false;
        }
        auto stmt = Prepare(db,
                            "INSERT INTO registry_values(root, path, name, type, data)"
                            " VALUES(?1, ?2, ?3, ?4, ?5)"
                            " ON CONFLICT(root, path, name)"
                            " DO UPDATE SET type=excluded.type, data=excluded.data");
        if (!stmt) {
            return false;
        }
        sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
        BindText(stmt.get(), 2, path);
        BindText(stmt.get(), 3, name);
        sqlite3_bind_int64(stmt.get(), 4, type);
        // A zero-length blob needs a non-null pointer, or it binds NULL.
        sqlite3_bind_blob(stmt.get(), 5, bytes.empty() ? "" : bytes.data(),
                          static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        return sqlite3_step(stmt.get()) == SQLITE_DONE;
    });
    return stored;
}

std::optional<std::vector<SqliteRegistryStore::NamedValue>> SqliteRegistryStore::Values(
    RegistryRoot root, std::string_view path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_database, ec)) {
        return std::nullopt;
    }
    Connection db = Open(m_database, false, m_busyTimeout);
    if (!db || !KeyExists(db.get(), root, path)) {
        return std::nullopt;
    }
    auto stmt = Prepare(db.get(),
                        "SELECT name, type, data FROM registry_values"
                        " WHERE root=?1 AND path=?2 ORDER BY rowid");
    if (!stmt) {
        return std::nullopt;
    }
    sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
    BindText(stmt.get(), 2, path);
    std::vector<NamedValue> values;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        NamedValue value;
        value.name = ColumnBytes(stmt.get(), 0);
        value.data.type = static_cast<std::uint32_t>(sqlite3_column_int64(stmt.get(), 1));
        value.data.bytes = ColumnBytes(stmt.get(), 2);
        values.push_back(std::move(value));
    }
    return values;
}

std::vector<std::string> SqliteRegistryStore::Subkeys(RegistryRoot root, std::string_view path) {
    std::vector<std::string> subkeys;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_database, ec)) {
        return subkeys;
    }
    Connection db = Open(m_database, false, m_busyTimeout);
    auto stmt =
        db ? Prepare(db.get(), "SELECT path FROM registry_keys WHERE root=?1 ORDER BY rowid")
           : nullptr;
    if (!stmt) {
        return subkeys;
    }
    sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
    const std::string prefix = path.empty() ? std::string() : std::string(path) + "\\";
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        std::string key = ColumnBytes(stmt.get(), 0);
        if (key.size() <= prefix.size() ||
            !EqualNoCase(std::string_view(key).substr(0, prefix.size()), prefix)) {
            continue;
        }
        std::string_view child = std::string_view(key).substr(prefix.size());
        if (child.find('\\') == std::string_view::npos) {
            subkeys.emplace_back(child);
        }
    }
    return subkeys;
}

SqliteRegistryStore::DeleteResult SqliteRegistryStore::DeleteValue(RegistryRoot root,
                                                                   std::string_view path,
                                                                   std::string_view name) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_database, ec)) {
        return DeleteResult::Absent;
    }
    Connection db = Open(m_database, true, m_busyTimeout);
    if (!db) {
        return DeleteResult::Failed;
    }
    int changes = 0;
    bool done = InTransaction(db.get(), [&] {
        auto stmt =
            Prepare(db.get(), "DELETE FROM registry_values WHERE root=?1 AND path=?2 AND name=?3");
        if (!stmt) {
            return false;
        }
        sqlite3_bind_int64(stmt.get(), 1, static_cast<sqlite3_int64>(root));
        BindText(stmt.get(), 2, path);
        BindText(stmt.get(), 3, name);
        if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
            return false;
        }
        changes = sqlite3_changes(db.get());
        return true;
    });
    if (!done) {
        return DeleteResult::Failed;
    }
    return changes > 0 ? DeleteResult::Deleted : DeleteResult::Absent;
}
