// Writes a browsing history as Firefox ESR and Chromium leave it, into a home
// folder, for the cleaner's benchmark:
//   privacy_bench_profile SCHEMA_DIR HOME [HISTORY [COOKIES]]
// One Firefox profile (legacy root) and one Chromium profile (Default), each
// with HISTORY visited pages (one visit each, a tenth typed, one in a hundred
// bookmarked) and COOKIES cookies; the tables come from the real browsers'
// schema dumps.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Db {
    explicit Db(const fs::path& file) {
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
            std::exit(1);
        }
    }
    ~Db() { sqlite3_close(db); }
    void Exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::fprintf(stderr, "%s\n", error ? error : "?");
            std::exit(1);
        }
    }
    sqlite3* db = nullptr;
};

std::string Schema(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    std::string sql, line;
    while (std::getline(in, line)) {
        if (line.rfind("CREATE TABLE sqlite_", 0) != 0) {
            sql += line + "\n";
        }
    }
    if (sql.empty()) {
        std::fprintf(stderr, "no schema %s\n", name);
        std::exit(1);
    }
    return sql;
}

// Rows are made by SQL over a counter table, which is how a generator keeps
// 100,000 rows fast.
constexpr const char* kCounter =
    "CREATE TEMP TABLE n(i INTEGER PRIMARY KEY);"
    "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %ld)"
    " INSERT INTO n SELECT i FROM c;";

std::string Counter(long rows) {
    char sql[256];
    std::snprintf(sql, sizeof sql, kCounter, rows);
    return sql;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SCHEMA_DIR HOME [HISTORY [COOKIES]]\n", argv[0]);
        return 2;
    }
    fs::path schemas = argv[1];
    fs::path home = argv[2];
    long history = argc > 3 ? std::atol(argv[3]) : 100000;
    long cookies = argc > 4 ? std::atol(argv[4]) : 20000;

    fs::path firefox = home / ".mozilla" / "firefox" / "bench.default-esr";
    fs::create_directories(firefox);
    std::ofstream(home / ".mozilla" / "firefox" / "profiles.ini")
        << "[Profile0]\nName=default-esr\nIsRelative=1\nPath=bench.default-esr\nDefault=1\n";
    {
        Db places(firefox / "places.sqlite");
        places.Exec("PRAGMA journal_mode=WAL;" + Schema(schemas, "firefox153esr_places.sql"));
        places.Exec(
            "BEGIN;" + Counter(history) +
            "INSERT INTO moz_origins(id, prefix, host, frecency)"
            " SELECT i, 'https://', 'site' || i || '.example', 100 FROM n WHERE i <= 1000;"
            "INSERT INTO moz_places(id, url, title, rev_host, visit_count, typed, frecency,"
            " last_visit_date, guid, foreign_count, url_hash, origin_id)"
            " SELECT i, 'https://site' || (i % 1000 + 1) || '.example/page/' || i, 'Page ' || i,"
            " 'elpmaxe.' || (i % 1000 + 1) || 'etis.', 1, i % 10 = 0, 100,"
            " 1700000000000000 + i, printf('g%011d', i), i % 100 = 0, i, i % 1000 + 1 FROM n;"
            "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type)"
            " SELECT i, 1700000000000000 + i, CASE WHEN i % 10 = 0 THEN 2 ELSE 1 END FROM n;"
            "INSERT INTO moz_inputhistory(place_id, input, use_count)"
            " SELECT i, 'site', 1 FROM n WHERE i % 10 = 0;"
            "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid)"
            " SELECT 1, i, 3, i / 100, 'Mark ' || i, printf('b%011d', i) FROM n"
            " WHERE i % 100 = 0;"
            "COMMIT;");
    }
    {
        Db jar(firefox / "cookies.sqlite");
        jar.Exec("PRAGMA journal_mode=WAL;" + Schema(schemas, "firefox153esr_cookies.sql"));
        jar.Exec("BEGIN;" + Counter(cookies) +
                 "INSERT INTO moz_cookies(originAttributes, name, value, host, path, expiry,"
                 " lastAccessed, creationTime, isSecure, isHttpOnly)"
                 " SELECT '', 'c' || i, 'value' || i, '.site' || (i % 1000) || '.example', '/',"
                 " 1900000000, 1700000000000000, 1700000000000000, 1, 0 FROM n;"
                 "COMMIT;");
    }

    fs::path chromium = home / ".config" / "chromium" / "Default";
    fs::create_directories(chromium);
    std::ofstream(home / ".config" / "chromium" / "Local State")
        << R"({"profile":{"info_cache":{"Default":{"name":"Person 1"}}}})";
    {
        Db db(chromium / "History");
        db.Exec(Schema(schemas, "chromium156_History.sql"));
        db.Exec(
            "BEGIN;" + Counter(history) +
            "INSERT INTO urls(id, url, title, visit_count, typed_count, last_visit_time)"
            " SELECT i, 'https://site' || (i % 1000 + 1) || '.example/page/' || i, 'Page ' || i,"
            " 1, i % 10 = 0, 13300000000000000 + i FROM n;"
            "INSERT INTO visits(url, visit_time, transition)"
            " SELECT i, 13300000000000000 + i, 805306368 FROM n;"
            "INSERT INTO visit_source(id, source) SELECT i, 0 FROM n;"
            "COMMIT;");
    }
    {
        Db db(chromium / "Cookies");
        db.Exec(Schema(schemas, "chromium156_Cookies.sql"));
        db.Exec("BEGIN;" + Counter(cookies) +
                "INSERT INTO cookies SELECT 13300000000000000 + i, '.site' || (i % 1000) ||"
                " '.example', '', 'c' || i, '', x'763130', '/', 13400000000000000, 1, 0,"
                " 13300000000000000, 1, 1, 1, -1, 2, 443, 13300000000000000, 0, 0 FROM n;"
                "COMMIT;");
    }
    return 0;
}
