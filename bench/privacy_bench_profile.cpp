// Writes a browsing history as Firefox ESR and Chromium leave it after long
// use, into a home folder, for the cleaner's benchmark:
//   privacy_bench_profile SCHEMA_DIR HOME [PAGES]
// One Firefox profile (legacy root) and one Chromium profile (Default). With
// PAGES = 100,000 (the default), each browser has 100,000 pages with 200,000
// visits (1-3 per page), 20,000 cookies and 5,000 cache entries; Firefox 500
// bookmarks, 5,000 typed inputs, 5,000 origins, 600 annotations, 10,000
// page-interaction rows and 500 search queries; Chromium 20,000 visited links,
// 30,000 annotations, 2,000 keyword terms, 5,000 segments with their usage and
// 300 downloads; and each some site data (local storage, IndexedDB). Other
// PAGES scale every count. The tables come from the real browsers' schema
// dumps.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cache_entry_files_linux.h"

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

// Rows are made by SQL over a counter table n(i) = 1..rows, and v(k) = 1..3
// for the visits of a page; `{P}` in the SQL is the number of pages, `{C}`
// of cookies.
std::string Rows(long pages, std::string sql) {
    auto put = [&sql](const std::string& name, long value) {
        for (std::size_t at; (at = sql.find(name)) != std::string::npos;) {
            sql.replace(at, name.size(), std::to_string(value));
        }
    };
    put("{P}", pages);
    put("{C}", pages / 5);
    put("{S}", pages / 20);  // 5,000 of 100,000: origins, segments, typed inputs
    return "BEGIN;"
           "CREATE TEMP TABLE n(i INTEGER PRIMARY KEY);"
           "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
           std::to_string(pages) +
           ") INSERT INTO n SELECT i FROM c;"
           "CREATE TEMP TABLE v(k INTEGER PRIMARY KEY); INSERT INTO v VALUES (1), (2), (3);" +
           sql + "COMMIT;";
}

void Touch(const fs::path& file, const std::string& bytes = "data") {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

void WriteFirefox(const fs::path& schemas, const fs::path& home, long pages) {
    fs::path profile = home / ".mozilla" / "firefox" / "bench.default-esr";
    fs::create_directories(profile);
    std::ofstream(home / ".mozilla" / "firefox" / "profiles.ini")
        << "[Profile0]\nName=default-esr\nIsRelative=1\nPath=bench.default-esr\nDefault=1\n";
    {
        Db places(profile / "places.sqlite");
        places.Exec("PRAGMA journal_mode=WAL;" + Schema(schemas, "firefox153esr_places.sql"));
        places.Exec(Rows(
            pages,
            "INSERT INTO moz_origins(id, prefix, host, frecency)"
            " SELECT i, 'https://', 'site' || i || '.example', 100 FROM n WHERE i <= {S};"
            // One in 200 pages bookmarked; a tenth typed.
            "INSERT INTO moz_places(id, url, title, rev_host, visit_count, typed, frecency,"
            " last_visit_date, guid, foreign_count, url_hash, origin_id)"
            " SELECT i, 'https://site' || (i % {S} + 1) || '.example/page/' || i, 'Page ' || i,"
            " 'elpmaxe.' || (i % {S} + 1) || 'etis.', 1 + i % 3, i % 10 = 0, 100,"
            " 1700000000000000 + i, printf('g%011d', i), i % 200 = 0, i, i % {S} + 1 FROM n;"
            "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type)"
            " SELECT i, 1700000000000000 + i * 3 + k, CASE WHEN i % 10 = 0 THEN 2 ELSE 1 END"
            " FROM n JOIN v ON k <= 1 + i % 3;"
            "INSERT INTO moz_inputhistory(place_id, input, use_count)"
            " SELECT i * 20, 'site', 1 FROM n WHERE i <= {S};"
            "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid)"
            " SELECT 1, i, 3, i / 200, 'Mark ' || i, printf('b%011d', i) FROM n"
            " WHERE i % 200 = 0;"
            "INSERT INTO moz_annos(place_id, anno_attribute_id, content)"
            " SELECT i * 150, 1, 'x' FROM n WHERE i * 150 <= {P} AND i <= {P} * 6 / 1000;"
            "INSERT INTO moz_places_metadata_search_queries(id, terms)"
            " SELECT i, 'query ' || i FROM n WHERE i <= {P} / 200;"
            "INSERT INTO moz_places_metadata(place_id, referrer_place_id, total_view_time,"
            " search_query_id) SELECT i * 10, i * 10 - 1, 1000, i % ({P} / 200) + 1"
            " FROM n WHERE i <= {P} / 10;"));
    }
    {
        Db jar(profile / "cookies.sqlite");
        jar.Exec("PRAGMA journal_mode=WAL;" + Schema(schemas, "firefox153esr_cookies.sql"));
        jar.Exec(Rows(pages,
                      "INSERT INTO moz_cookies(originAttributes, name, value, host, path, expiry,"
                      " lastAccessed, creationTime, isSecure, isHttpOnly)"
                      " SELECT '', 'c' || i, 'value' || i, '.site' || (i % 1000) || '.example',"
                      " '/', 1900000000, 1700000000000000, 1700000000000000, 1, 0 FROM n"
                      " WHERE i <= {C};"));
    }
    {
        Db local(profile / "webappsstore.sqlite");
        local.Exec(
            "PRAGMA journal_mode=WAL; CREATE TABLE webappsstore2 (originAttributes TEXT,"
            " originKey TEXT, scope TEXT, key TEXT, value TEXT);" +
            Rows(pages,
                 "INSERT INTO webappsstore2 SELECT '', 'elpmaxe.' || i || 'etis.:https:443',"
                 " '', 'id', 'v' || i FROM n WHERE i <= 50;"));
    }
    for (long i = 1; i <= 50; ++i) {
        fs::path origin =
            profile / "storage" / "default" / ("https+++site" + std::to_string(i) + ".example");
        Touch(origin / "ls" / "data.sqlite", std::string(4096, 'x'));
        Touch(origin / ".metadata-v2");
    }
    fs::path cache2 = home / ".cache" / "mozilla" / "firefox" / "bench.default-esr" / "cache2";
    for (long i = 0; i < pages / 20; ++i) {
        char name[41];
        std::snprintf(name, sizeof name, "%040lX", i);
        privacytest::WriteFirefoxCacheEntry(cache2 / "entries", name,
                                            "https://site1.example/page/" + std::to_string(i));
    }
    Touch(cache2 / "index", std::string(64, 'i'));
    fs::create_directories(cache2 / "doomed");
}

void WriteChromium(const fs::path& schemas, const fs::path& home, long pages) {
    fs::path profile = home / ".config" / "chromium" / "Default";
    fs::create_directories(profile);
    std::ofstream(home / ".config" / "chromium" / "Local State")
        << R"({"profile":{"info_cache":{"Default":{"name":"Person 1"}}}})";
    {
        Db db(profile / "History");
        db.Exec(Schema(schemas, "chromium156_History.sql"));
        // Chromium writes its schema version first; readers such as
        // BleachBit look at it before anything else.
        db.Exec("INSERT INTO meta VALUES ('mmap_status', '-1'), ('version', '70'),"
                " ('last_compatible_version', '16')");
        db.Exec(Rows(
            pages,
            "INSERT INTO urls(id, url, title, visit_count, typed_count, last_visit_time)"
            " SELECT i, 'https://site' || (i % 1000 + 1) || '.example/page/' || i, 'Page ' || i,"
            " 1 + i % 3, i % 10 = 0, 13300000000000000 + i FROM n;"
            "INSERT INTO visits(url, visit_time, transition)"
            " SELECT i, 13300000000000000 + i * 3 + k, 805306368 FROM n JOIN v ON k <= 1 + i % 3;"
            "INSERT INTO visit_source(id, source) SELECT id, 0 FROM visits;"
            "INSERT INTO visited_links(link_url_id, top_level_url, frame_url)"
            " SELECT i * 5, 'https://top.example/', 'https://frame.example/' FROM n"
            " WHERE i <= {C};"
            "INSERT INTO content_annotations(visit_id, annotation_flags, has_url_keyed_image)"
            " SELECT i * 2, 0, 0 FROM n WHERE i <= {P} * 15 / 100;"
            "INSERT INTO context_annotations(visit_id, context_annotation_flags)"
            " SELECT i * 2 + 1, 0 FROM n WHERE i <= {P} * 15 / 100;"
            "INSERT INTO keyword_search_terms(keyword_id, url_id, term, normalized_term)"
            " SELECT 1, i * 50, 'term ' || i, 'term ' || i FROM n WHERE i <= {P} / 50;"
            "INSERT INTO segments(id, name, url_id) SELECT i, 'site' || i, i * 20 FROM n"
            " WHERE i <= {S};"
            "INSERT INTO segment_usage(segment_id, time_slot, visit_count)"
            " SELECT i, 13300000000000000, 1 FROM n WHERE i <= {S};"
            "INSERT INTO downloads(id, guid, current_path, target_path, start_time,"
            " received_bytes, total_bytes, state, danger_type, interrupt_reason, hash, end_time,"
            " opened, last_access_time, transient, referrer, site_url, embedder_download_data,"
            " tab_url, tab_referrer_url, http_method, by_ext_id, by_ext_name, by_web_app_id,"
            " etag, last_modified, mime_type, original_mime_type)"
            " SELECT i, printf('d%011d', i), '/tmp/f' || i, '/tmp/f' || i, 1, 10, 10, 1, 0, 0,"
            " x'', 2, 0, 2, 0, '', '', '', '', '', 'GET', '', '', '', '', '', 'text/plain',"
            " 'text/plain' FROM n WHERE i <= {P} * 3 / 1000;"
            "INSERT INTO downloads_url_chains(id, chain_index, url)"
            " SELECT id, 0, 'https://site1.example/f' || id FROM downloads;"));
    }
    {
        Db db(profile / "Cookies");
        db.Exec(Schema(schemas, "chromium156_Cookies.sql"));
        db.Exec("INSERT INTO meta VALUES ('mmap_status', '-1'), ('version', '24'),"
                " ('last_compatible_version', '24')");
        db.Exec(Rows(pages,
                     "INSERT INTO cookies SELECT 13300000000000000 + i, '.site' || (i % 1000) ||"
                     " '.example', '', 'c' || i, '', x'763130', '/', 13400000000000000, 1, 0,"
                     " 13300000000000000, 1, 1, 1, -1, 2, 443, 13300000000000000, 0, 0 FROM n"
                     " WHERE i <= {C};"));
    }
    for (const char* file : {"000003.log", "CURRENT", "LOCK", "LOG", "MANIFEST-000001"}) {
        Touch(profile / "Local Storage" / "leveldb" / file, std::string(2048, 'l'));
        Touch(profile / "Session Storage" / file);
        Touch(profile / "Service Worker" / "Database" / file);
    }
    for (long i = 1; i <= 50; ++i) {
        fs::path origin =
            profile / "IndexedDB" / ("https_site" + std::to_string(i) + ".example_0.indexeddb.leveldb");
        Touch(origin / "000003.log", std::string(4096, 'x'));
        Touch(origin / "CURRENT");
    }
    fs::path cache = home / ".cache" / "chromium" / "Default" / "Cache" / "Cache_Data";
    for (long i = 0; i < pages / 20; ++i) {
        char name[17];
        std::snprintf(name, sizeof name, "%016lx", i);
        privacytest::WriteChromiumCacheEntry(cache, name,
                                             "https://site1.example/page/" + std::to_string(i));
    }
    privacytest::WriteChromiumCacheIndex(cache);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SCHEMA_DIR HOME [PAGES]\n", argv[0]);
        return 2;
    }
    long pages = argc > 3 ? std::atol(argv[3]) : 100000;
    if (pages < 1000) {
        std::fprintf(stderr, "PAGES must be at least 1000\n");
        return 2;
    }
    WriteFirefox(argv[1], argv[2], pages);
    WriteChromium(argv[1], argv[2], pages);
    return 0;
}
