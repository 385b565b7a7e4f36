#include "browser_profile_fixture_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace privacytest {

namespace {

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

struct Db {
    explicit Db(const fs::path& file) {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << file;
        }
        sqlite3_busy_timeout(db, 5000);
        // Test data need not survive a power cut; fsyncs made the tests slow.
        sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    }
    ~Db() { sqlite3_close_v2(db); }
    sqlite3* db = nullptr;
};

long long Now() {
    return 13'000'000'000'000'000LL;
}

}  // namespace

void CreateDatabase(const fs::path& file, const std::string& schemaFile, bool wal) {
    fs::create_directories(file.parent_path());
    std::string schema = ReadText(fs::path(QUILLON_BROWSER_SCHEMAS) / schemaFile);
    ASSERT_FALSE(schema.empty()) << schemaFile;
    // SQLite makes its own sqlite_ tables; the dumps list them too.
    std::istringstream lines(schema);
    std::string line, sql = wal ? "PRAGMA journal_mode=WAL;" : "";
    while (std::getline(lines, line)) {
        if (line.rfind("CREATE TABLE sqlite_", 0) != 0) {
            sql += line + "\n";
        }
    }
    Sql(file, sql);
}

void Sql(const fs::path& file, const std::string& sql) {
    Db db(file);
    char* error = nullptr;
    if (sqlite3_exec(db.db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << file << ": " << (error ? error : "?") << "\n" << sql.substr(0, 200);
    }
    sqlite3_free(error);
}

long long Count(const fs::path& file, const std::string& sql) {
    Db db(file);
    sqlite3_stmt* stmt = nullptr;
    long long value = -1;
    if (sqlite3_prepare_v2(db.db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return value;
}

std::string Text(const fs::path& file, const std::string& sql) {
    Db db(file);
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db.db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return value;
}

std::string FileBytes(const fs::path& file) {
    return ReadText(file);
}

void WriteFile(const fs::path& file, const std::string& text) {
    WriteText(file, text);
}

FakeHome::FakeHome() {
    char pattern[] = "/tmp/quillon-privacy-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    m_root = made;
    m_home.home = m_root / "home";
    m_home.configHome = m_home.home / ".config";
    m_home.cacheHome = m_home.home / ".cache";
    fs::create_directories(m_home.configHome);
}

FakeHome::~FakeHome() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
}

bool FakeHome::WaitForTheFileClock() const {
    // Beside the home, on the same file system: nothing in it is touched.
    const fs::path probe = m_root / "clock";
    const auto written = [&probe] {
        std::ofstream(probe, std::ios::binary | std::ios::app) << 'x';
        return fs::last_write_time(probe);
    };
    const fs::file_time_type first = written();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool moved = false;
    while (!(moved = written() != first) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fs::remove(probe);
    return moved;
}

void FakeHome::ListFirefoxProfile(const fs::path& root, const std::string& relative) {
    fs::path ini = root / "profiles.ini";
    std::string text = fs::exists(ini) ? ReadText(ini) : "[General]\nStartWithLastProfile=1\n\n";
    int index = 0;
    while (text.find("[Profile" + std::to_string(index) + "]") != std::string::npos) {
        ++index;
    }
    bool isRelative = !fs::path(relative).is_absolute();
    text += "[Profile" + std::to_string(index) + "]\nName=p" + std::to_string(index) +
            "\nIsRelative=" + (isRelative ? "1" : "0") + "\nPath=" + relative + "\n\n";
    WriteText(ini, text);
}

fs::path FakeHome::AddFirefoxProfile(const std::string& name, const fs::path& root) {
    fs::path base = root.empty() ? m_home.home / ".mozilla" / "firefox" : root;
    fs::path dir = base / name;
    fs::create_directories(dir);
    CreateDatabase(dir / "cookies.sqlite", "firefox153esr_cookies.sql", true);
    CreateDatabase(dir / "places.sqlite", "firefox153esr_places.sql", true);
    ListFirefoxProfile(base, name);
    return dir;
}

void FakeHome::ListChromiumProfile(const fs::path& userData, const std::string& name) {
    fs::path state = userData / "Local State";
    std::string text = fs::exists(state) ? ReadText(state) : "";
    std::string entry = "\"" + name + "\":{\"name\":\"" + name + "\"}";
    if (text.empty()) {
        text = "{\"profile\":{\"info_cache\":{" + entry + "}}}";
    } else {
        text.insert(text.find("\"info_cache\":{") + 14, entry + ",");
    }
    WriteText(state, text);
}

fs::path FakeHome::AddChromiumProfile(const std::string& name, const fs::path& userData) {
    fs::path base = userData.empty() ? m_home.configHome / "chromium" : userData;
    fs::path dir = base / name;
    fs::create_directories(dir);
    CreateDatabase(dir / "History", "chromium156_History.sql", false);
    CreateDatabase(dir / "Cookies", "chromium156_Cookies.sql", false);
    ListChromiumProfile(base, name);
    return dir;
}

void AddFirefoxCookie(const fs::path& profile, const std::string& host, const std::string& name) {
    Sql(profile / "cookies.sqlite",
        "INSERT INTO moz_cookies(originAttributes, name, value, host, path, expiry, lastAccessed,"
        " creationTime, isSecure, isHttpOnly) VALUES('', '" +
            name + "', 'v', '" + host + "', '/', 9999999999, 1, 1, 0, 0)");
}

long long AddFirefoxVisit(const fs::path& profile, const std::string& url, bool typed) {
    fs::path places = profile / "places.sqlite";
    std::string host = url.substr(url.find("//") + 2);
    host = host.substr(0, host.find('/'));
    Sql(places, "INSERT OR IGNORE INTO moz_origins(prefix, host, frecency) VALUES('http://', '" +
                    host + "', 100)");
    Sql(places,
        "INSERT INTO moz_places(url, title, rev_host, visit_count, typed, frecency,"
        " last_visit_date, guid, url_hash, origin_id) SELECT '" +
            url + "', 't', 'x', 1, " + (typed ? "1" : "0") +
            ", 100, 1700000000000000, lower(hex(randomblob(6))), 0, id"
            " FROM moz_origins WHERE host = '" +
            host + "'");
    long long id = Count(places, "SELECT max(id) FROM moz_places");
    Sql(places, "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type) VALUES(" +
                    std::to_string(id) + ", 1700000000000000, " + (typed ? "2" : "1") + ")");
    if (typed) {
        Sql(places, "INSERT INTO moz_inputhistory(place_id, input, use_count) VALUES(" +
                        std::to_string(id) + ", 'exa', 1)");
    }
    return id;
}

void BookmarkFirefoxPlace(const fs::path& profile, long long placeId) {
    Sql(profile / "places.sqlite",
        "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) VALUES(1, " +
            std::to_string(placeId) +
            ", 3, 0, 'mark', lower(hex(randomblob(6))));"
            "UPDATE moz_places SET foreign_count = foreign_count + 1 WHERE id = " +
            std::to_string(placeId));
}

void AddChromiumCookie(const fs::path& cookies, const std::string& host, const std::string& name) {
    Sql(cookies, "INSERT INTO cookies VALUES(" + std::to_string(Now()) + ", '" + host + "', '', '" +
                     name + "', 'v', x'', '/', 0, 0, 0, 0, 0, 1, 1, -1, 0, 80, 0, 0, 0)");
}

long long AddChromiumVisit(const fs::path& profile, const std::string& url, bool typed) {
    fs::path history = profile / "History";
    Sql(history,
        "INSERT INTO urls(url, title, visit_count, typed_count, last_visit_time)"
        " VALUES('" +
            url + "', 't', 1, " + (typed ? "1" : "0") + ", " + std::to_string(Now()) + ")");
    long long id = Count(history, "SELECT max(id) FROM urls");
    Sql(history, "INSERT INTO visits(url, visit_time, transition) VALUES(" + std::to_string(id) +
                     ", " + std::to_string(Now()) +
                     ", 1);"
                     "INSERT INTO keyword_search_terms VALUES(1, " +
                     std::to_string(id) +
                     ", 'q', 'q');"
                     "INSERT INTO segments(name, url_id) VALUES('s', " +
                     std::to_string(id) + ")");
    return id;
}

LockHolder::LockHolder(const fs::path& file) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
        return;
    }
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls in the child.
        ::close(release[1]);
        ::close(ready[0]);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        char ok = fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        char byte;
        (void)!read(release[0], &byte, 1);
        _exit(0);
    }
    ::close(fd);
    ::close(ready[1]);
    ::close(release[0]);
    m_release = release[1];
    char ok = 0;
    m_holding = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
}

LockHolder::~LockHolder() {
    if (m_release >= 0) {
        ::close(m_release);
    }
    if (m_pid > 0) {
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

}  // namespace privacytest
