// Generated browser profiles for tests: a temporary home with real Firefox and
// Chromium databases made from the schema dumps of the real browsers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "browser_profiles_linux.h"
#include "cache_entry_files_linux.h"

namespace privacytest {

namespace fs = std::filesystem;

// A database file made from one of the schema dumps in testdata/schemas.
void CreateDatabase(const fs::path& file, const std::string& schemaFile, bool wal);
// Runs SQL on a database; fails the test on an error.
void Sql(const fs::path& file, const std::string& sql);
// The first column of the first row, as an integer (-1 on an error).
long long Count(const fs::path& file, const std::string& sql);
// The first column of the first row, as text.
std::string Text(const fs::path& file, const std::string& sql);
std::string FileBytes(const fs::path& file);
// Writes a file, making the folders it is in.
void WriteFile(const fs::path& file, const std::string& text);

// A home folder, removed with everything in it.
class FakeHome {
public:
    FakeHome();
    ~FakeHome();
    FakeHome(const FakeHome&) = delete;
    FakeHome& operator=(const FakeHome&) = delete;

    const BrowserHome& Home() const { return m_home; }
    // Returns once a file written now gets a later time than one written at
    // the call (bounded), so that any write after it shows in a file's or a
    // folder's time, which the system keeps in clock ticks. False when the
    // clock did not move on in time.
    bool WaitForTheFileClock() const;

    // A Firefox profile listed in profiles.ini of the legacy root (or of
    // `root` when given) with empty cookies.sqlite and places.sqlite.
    fs::path AddFirefoxProfile(const std::string& name, const fs::path& root = {});
    // A Chromium profile of the user data folder `userData` (default
    // $XDG_CONFIG_HOME/chromium) with empty History and Cookies, listed in
    // Local State.
    fs::path AddChromiumProfile(const std::string& name, const fs::path& userData = {});

private:
    void ListFirefoxProfile(const fs::path& root, const std::string& relative);
    void ListChromiumProfile(const fs::path& userData, const std::string& name);

    fs::path m_root;
    BrowserHome m_home;
    std::vector<std::string> m_firefoxLists;
};

// Visits, cookies and bookmarks as a browser would store them.
void AddFirefoxCookie(const fs::path& profile, const std::string& host, const std::string& name);
// Returns the place id.
long long AddFirefoxVisit(const fs::path& profile, const std::string& url, bool typed);
void BookmarkFirefoxPlace(const fs::path& profile, long long placeId);
void AddChromiumCookie(const fs::path& cookies, const std::string& host, const std::string& name);
long long AddChromiumVisit(const fs::path& profile, const std::string& url, bool typed);

// A child process that holds a POSIX write lock on `file` (as a running
// Firefox holds .parentlock) until destroyed.
class LockHolder {
public:
    explicit LockHolder(const fs::path& file);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool Holding() const { return m_holding; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holding = false;
};

}  // namespace privacytest
