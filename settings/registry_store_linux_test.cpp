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
