#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "registry_dword.h"
#include "registry_store_contract.h"
#include "registry_store_linux.h"
#include "registry_string.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "quillon-settings-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// Nothing in this binary may reach the user's real ~/.config.
class ConfigHomeEnvironment : public testing::Environment {
public:
    void SetUp() override { setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1); }

private:
    TempDir m_dir;
};
[[maybe_unused]] testing::Environment* const kConfigHome =
    testing::AddGlobalTestEnvironment(new ConfigHomeEnvironment);

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

class SqliteUnderTest final : public StoreUnderTest {
public:
    IRegistryStore& Store() override { return m_store; }
    std::string BaseKey() override { return "Software\\Quillon"; }

private:
    TempDir m_dir;
    SqliteRegistryStore m_store{m_dir.Path() / "quillon" / "settings.db"};
};

INSTANTIATE_TEST_SUITE_P(Sqlite, RegistryStoreContract,
                         testing::Values(ContractStore{
                             "Sqlite", [] { return std::make_unique<SqliteUnderTest>(); }}),
                         ContractStoreName);

TEST(SqliteRegistryStore, DatabaseLivesUnderTheConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = saved != nullptr ? saved : "";
    const char* savedHomeRaw = std::getenv("HOME");
    const std::string savedHome = savedHomeRaw != nullptr ? savedHomeRaw : "";
    TempDir dir;

    setenv("XDG_CONFIG_HOME", (dir.Path() / "xdg").c_str(), 1);
    EXPECT_EQ(DefaultSettingsDatabasePath(), dir.Path() / "xdg" / "quillon" / "settings.db");
    // Unset, empty or relative: the XDG default under the home folder.
    setenv("HOME", dir.Path().c_str(), 1);
    for (const char* xdg : {"", "relative/dir"}) {
        setenv("XDG_CONFIG_HOME", xdg, 1);
        EXPECT_EQ(DefaultSettingsDatabasePath(),
                  dir.Path() / ".config" / "quillon" / "settings.db");
    }
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultSettingsDatabasePath(), dir.Path() / ".config" / "quillon" / "settings.db");

    setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

TEST(SqliteRegistryStore, ReadingCreatesNothingAndWritingCreatesTheFolder) {
    TempDir dir;
    const fs::path db = dir.Path() / "quillon" / "settings.db";
    SqliteRegistryStore store(db);
    RegistryDword value("Software\\Quillon\\UseProxy", 0, false, kHklm, store);
    EXPECT_EQ(value.Get(), 0u);
    EXPECT_FALSE(fs::exists(dir.Path() / "quillon"));
    value.Set(1);
    EXPECT_TRUE(fs::is_regular_file(db));
    EXPECT_EQ((fs::status(dir.Path() / "quillon").permissions() & fs::perms::all),
              fs::perms::owner_all);
}

// A file that is not a database (or no longer is one) may still be the user's
// data: reads give defaults, writes fail, and its bytes stay as they were.
TEST(SqliteRegistryStore, ForeignOrCorruptFileIsNeverChanged) {
    TempDir dir;
    const fs::path text = dir.Path() / "text.db";
    WriteFile(text, std::string(5000, 'q') + "\nnot a database\n");

    const fs::path smashed = dir.Path() / "smashed.db";
    {
        SqliteRegistryStore good(smashed);
        RegistryDword v("Software\\Quillon\\UseProxy", 0, false, kHklm, good);
        v.Set(1);
    }
    std::string bytes = ReadFile(smashed);
    ASSERT_GT(bytes.size(), 100u);
    bytes.replace(0, 100, std::string(100, '\x5A'));
    WriteFile(smashed, bytes);
    // Drop the WAL so only the damaged main file remains.
    fs::remove(dir.Path() / "smashed.db-wal");
    fs::remove(dir.Path() / "smashed.db-shm");

    for (const fs::path& file : {text, smashed}) {
        const std::string before = ReadFile(file);
        SqliteRegistryStore store(file, 50ms);
        RegistryDword number("Software\\Quillon\\UseProxy", 7, false, kHklm, store);
        RegistryString name("Software\\Quillon\\ProxyName", "none", false, kHklm, store);
        EXPECT_EQ(number.Get(), 7u) << file;
        EXPECT_EQ(name.Get(), "none") << file;
        number.Set(3);
        name.Set("h:1");
        EXPECT_FALSE(number.IsLoaded()) << file;
        EXPECT_EQ(name.Get(), "none") << file;
        EXPECT_EQ(ReadFile(file), before) << file;
    }
}

void Sql(const fs::path& file, const char* sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db.get(), sql, nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_free(error);
}

// The first column of the first row, as text; empty when there is none.
std::string Column(const fs::path& file, const char* sql) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return {};
    }
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    sqlite3_stmt* stmt = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db.get(), sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr) {
        text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return text;
}

// A store cut short (a copy that stopped, a full disk long ago): whatever
// SQLite still finds is read, the rest gives defaults, and nothing crashes.
TEST(SqliteRegistryStore, TruncatedDatabaseGivesWhatItStillHoldsOrDefaults) {
    TempDir dir;
    const fs::path db = dir.Path() / "settings.db";
    {
        SqliteRegistryStore store(db);
        for (int i = 0; i < 200; ++i) {
            RegistryString value("Software\\Quillon\\K" + std::to_string(i) + "\\Text", "", false,
                                 kHklm, store);
            value.Set(std::string(1000, static_cast<char>('a' + i % 26)));
        }
    }
    ASSERT_FALSE(fs::exists(dir.Path() / "settings.db-wal"));  // checkpointed at the last close
    const std::string whole = ReadFile(db);
    ASSERT_GT(whole.size(), 100000u);

    for (std::size_t size :
         {whole.size() / 2, std::size_t{4096}, std::size_t{100}, std::size_t{0}}) {
        WriteFile(db, whole.substr(0, size));
        SqliteRegistryStore store(db, 50ms);
        int found = 0;
        for (int i = 0; i < 200; ++i) {
            RegistryString value("Software\\Quillon\\K" + std::to_string(i) + "\\Text", "default",
                                 false, kHklm, store);
            const std::string text = value.Get();
            if (text != "default") {
                EXPECT_EQ(text, std::string(1000, static_cast<char>('a' + i % 26))) << size;
                ++found;
            }
        }
        EXPECT_LT(found, 200) << size;
        // A write either lands and reads back, or fails and is not kept.
        RegistryDword number("Software\\Quillon\\UseProxy", 7, false, kHklm, store);
        number.Set(1);
        RegistryDword reread("Software\\Quillon\\UseProxy", 7, false, kHklm, store);
        EXPECT_EQ(reread.Get(), number.IsLoaded() ? 1u : 7u) << size;
        fs::remove(dir.Path() / "settings.db-wal");
        fs::remove(dir.Path() / "settings.db-shm");
    }
}

// Another program's database, or one with our table names and other columns:
// defaults are read; a write fails or lands beside the foreign tables, whose
// rows stay as they were.
TEST(SqliteRegistryStore, ForeignSchemaGivesDefaultsAndKeepsItsRows) {
    TempDir dir;
    const fs::path other = dir.Path() / "other.db";
    Sql(other, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine')");
    const fs::path changed = dir.Path() / "changed.db";
    Sql(changed,
        "CREATE TABLE registry_keys(id INTEGER PRIMARY KEY, key TEXT);"
        "CREATE TABLE registry_values(id INTEGER PRIMARY KEY, value TEXT);"
        "INSERT INTO registry_keys(key) VALUES('Software\\Quillon');"
        "INSERT INTO registry_values(value) VALUES('UseProxy=1')");

    // No column to write to: the write is refused.
    {
        SqliteRegistryStore store(changed, 50ms);
        RegistryDword number("Software\\Quillon\\UseProxy", 7, false, kHklm, store);
        EXPECT_EQ(number.Get(), 7u);
        number.Set(1);
        EXPECT_FALSE(number.IsLoaded());
        EXPECT_EQ(RegistryDword("Software\\Quillon\\UseProxy", 7, false, kHklm, store).Get(), 7u);
    }
    // Tables of ours can be added beside the foreign ones.
    {
        SqliteRegistryStore store(other, 50ms);
        RegistryDword number("Software\\Quillon\\UseProxy", 7, false, kHklm, store);
        EXPECT_EQ(number.Get(), 7u);
        number.Set(1);
        EXPECT_EQ(RegistryDword("Software\\Quillon\\UseProxy", 7, false, kHklm, store).Get(), 1u);
    }
    EXPECT_EQ(Column(other, "SELECT group_concat(text) FROM notes"), "mine");
    EXPECT_EQ(Column(changed,
                     "SELECT group_concat(key) || group_concat(value) FROM "
                     "registry_keys, registry_values"),
              "Software\\QuillonUseProxy=1");
}

// Our table as someone else made and filled it: numbers, reals, texts and NULLs
// where bytes belong, a type that is no number, a value of 16 MiB. Each is
// read as the bytes SQLite gives for it, and a write puts things right.
TEST(SqliteRegistryStore, ValuesOfTheWrongColumnTypeOrSizeAreReadAsBytes) {
    TempDir dir;
    const fs::path db = dir.Path() / "settings.db";
    {
        SqliteRegistryStore store(db);
        RegistryDword("Software\\Quillon\\UseProxy", 0, false, kHklm, store).Set(1);
    }
    Sql(db,
        "PRAGMA journal_mode=DELETE;"
        "CREATE TABLE loose(root, path COLLATE NOCASE, name COLLATE NOCASE, type, data,"
        " PRIMARY KEY(root, path, name));"
        "INSERT INTO loose VALUES(1, 'Software\\Quillon', 'Integer', 4, 513),"
        " (1, 'Software\\Quillon', 'Real', 4, 2.5),"
        " (1, 'Software\\Quillon', 'Null', 4, NULL),"
        " (1, 'Software\\Quillon', 'Text', 'abc', 'h:1'),"
        " (1, 'Software\\Quillon', 'Negative', -1, -1),"
        " (1, 'Software\\Quillon', 'Huge', 1, zeroblob(16777216));"
        "DROP TABLE registry_values;"
        "ALTER TABLE loose RENAME TO registry_values;");
    SqliteRegistryStore store(db, 50ms);
    auto number = [&](const char* name) {
        return RegistryDword(std::string("Software\\Quillon\\") + name, 9, false, kHklm, store)
            .Get();
    };
    auto text = [&](const char* name) {
        return RegistryString(std::string("Software\\Quillon\\") + name, "d", false, kHklm, store)
            .Get();
    };
    EXPECT_EQ(number("Integer"), 0x333135u);  // the text "513"
    EXPECT_EQ(number("Real"), 0x352E32u);     // "2.5"
    EXPECT_EQ(number("Null"), 0u);            // no bytes: an empty value
    EXPECT_EQ(text("Text"), "h:1");
    EXPECT_EQ(number("Negative"), 0x312Du);  // "-1"
    EXPECT_EQ(text("Huge"), "");             // 16 MiB of zero bytes: empty text
    EXPECT_EQ(number("Huge"), 9u);           // too long for a number
    EXPECT_EQ(number("UseProxy"), 9u);       // gone with the old table

    RegistryDword fixed("Software\\Quillon\\Integer", 9, false, kHklm, store);
    fixed.Set(5);
    EXPECT_TRUE(fixed.IsLoaded());
    EXPECT_EQ(number("Integer"), 5u);
}

TEST(SqliteRegistryStore, DirectoryInPlaceOfTheDatabaseFailsQuietly) {
    TempDir dir;
    fs::create_directories(dir.Path() / "settings.db");
    SqliteRegistryStore store(dir.Path() / "settings.db", 50ms);
    RegistryString value("Software\\Quillon\\ProxyName", "d", false, kHklm, store);
    value.Set("x");
    // Never loaded, so the next read tries the store again and falls back.
    EXPECT_FALSE(value.IsLoaded());
    EXPECT_EQ(value.Get(), "d");
    EXPECT_TRUE(fs::is_directory(dir.Path() / "settings.db"));
}

TEST(SqliteRegistryStore, WriterLockedOutGivesUpAfterTheBusyTimeoutAndReadersGoOn) {
    TempDir dir;
    const fs::path db = dir.Path() / "settings.db";
    SqliteRegistryStore store(db, 100ms);
    {
        RegistryDword init("Software\\Quillon\\UseProxy", 0, false, kHklm, store);
        init.Set(1);
    }

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> other(raw, &sqlite3_close);
    ASSERT_EQ(sqlite3_exec(other.get(), "BEGIN EXCLUSIVE; DELETE FROM registry_values;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);

    RegistryDword value("Software\\Quillon\\UseProxy", 0, false, kHklm, store);
    EXPECT_EQ(value.Get(), 1u);  // the uncommitted delete is not seen
    const auto start = std::chrono::steady_clock::now();
    RegistryDword blocked("Software\\Quillon\\EnableJS", 0, false, kHklm, store);
    blocked.Set(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(blocked.IsLoaded());

    ASSERT_EQ(sqlite3_exec(other.get(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    blocked.Set(0);
    blocked.Set(1);
    EXPECT_TRUE(blocked.IsLoaded());
    RegistryDword reread("Software\\Quillon\\EnableJS", 0, false, kHklm, store);
    EXPECT_EQ(reread.Get(), 1u);
}

// A process killed in the middle of a burst of writes leaves a database that
// opens, passes SQLite's integrity check and holds one of the values written.
TEST(SqliteRegistryStore, KilledWriterLeavesAReadableDatabase) {
    TempDir dir;
    const fs::path db = dir.Path() / "settings.db";

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = QUILLON_WRITE_BURST;
    std::string dbArg = db.string();
    char* argv[] = {program.data(), dbArg.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ASSERT_EQ(rc, 0);

    pollfd ready{out[0], POLLIN, 0};
    const bool started = poll(&ready, 1, 30000) == 1;
    close(out[0]);
    // Let it get well into its writes, then kill it mid-transaction.
    usleep(50 * 1000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> check(raw, &sqlite3_close);
    std::string result;
    sqlite3_exec(
        check.get(), "PRAGMA integrity_check",
        [](void* r, int, char** values, char**) {
            *static_cast<std::string*>(r) += values[0] ? values[0] : "";
            return 0;
        },
        &result, nullptr);
    EXPECT_EQ(result, "ok");

    SqliteRegistryStore store(db);
    RegistryDword counter("Software\\Quillon\\Counter", 0, false, kHklm, store);
    RegistryString text("Software\\Quillon\\Text", "", false, kHklm, store);
    EXPECT_GE(counter.Get(), 20u);
    // Each value is written in its own transaction, so the text is the
    // counter's, or the one before it when the kill fell between the two.
    const std::uint32_t n = counter.Get();
    EXPECT_TRUE(text.Get() == "value " + std::to_string(n) ||
                text.Get() == "value " + std::to_string(n - 1))
        << n << " / " << text.Get();
    // And the store goes on working.
    counter.Set(0);
    EXPECT_EQ(RegistryDword("Software\\Quillon\\Counter", 5, false, kHklm, store).Get(), 0u);
}

}  // namespace
