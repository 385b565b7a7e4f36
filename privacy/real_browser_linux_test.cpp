// Real Chromium and Firefox, headless, in a private network namespace that has only its
// own loopback, and a dead proxy for anything that is not loopback. A small
// origin server inside the same namespace sets a cookie and logs the Cookie
// header of every request. Its /storage page reports what it finds in its
// local storage (/report?found=…) and then stores a value there.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "browser_profile_fixture_linux.h"
#include "browser_trace_store_linux.h"
#include "cleaning_steps.h"
#include "cleaning_worker.h"

extern char** environ;

namespace {

using namespace privacytest;
using namespace std::chrono_literals;

std::string FindProgram(const std::string& name) {
    for (const char* dir : {"/usr/bin", "/bin", "/usr/sbin", "/sbin", "/usr/local/bin"}) {
        fs::path candidate = fs::path(dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

constexpr int kTimedOut = -2;

// Runs argv with extra environment in its own process group; bounded wait,
// after which the group we started is killed (kTimedOut). The exit status,
// or -1 when it did not start or did not exit.
int RunBounded(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               std::chrono::seconds limit) {
    std::vector<std::string> env = extraEnv;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    std::vector<char*> args, envp;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    for (const auto& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], nullptr, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return kTimedOut;
        }
        std::this_thread::sleep_for(50ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The report is a synchronous request, made while the page is still being
// parsed: a headless run that ends at the load event has made it by then.
constexpr const char* kOrigin = R"(import http.server, sys
log = open(sys.argv[1], 'a')
STORAGE = b"""<html><body><script>
var found = localStorage.getItem('k');
var report = new XMLHttpRequest();
report.open('GET', '/report?found=' + found, false);
report.send();
localStorage.setItem('k', 'v');
</script></body></html>"""
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        log.write('%s cookie=%s\n' % (self.path, self.headers.get('Cookie') or ''))
        log.flush()
        page = self.path == '/'
        body = b'<html><body>hello</body></html>' if page else STORAGE
        self.send_response(200)
        self.send_header('Set-Cookie', 'session=abc; Max-Age=86400; Path=/')
        self.send_header('Content-Type', 'text/html')
        self.send_header('Cache-Control', 'max-age=3600' if page else 'no-store')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
http.server.HTTPServer(('127.0.0.1', 18080), Handler).serve_forever()
)";

constexpr const char* kChromium =
    "chromium --headless --no-sandbox --disable-gpu --proxy-server=127.0.0.1:9"
    " --disable-background-networking --disable-component-update --disable-sync"
    " --no-first-run --disable-quic --user-data-dir=\"$XDG_CONFIG_HOME/chromium\""
    " --dump-dom ";
constexpr const char* kPage = "http://127.0.0.1:18080/";
constexpr const char* kStoragePage = "http://127.0.0.1:18080/storage";

class BrowserVisit {
public:
    BrowserVisit(const BrowserHome& home, fs::path work, std::string browser)
        : m_home(home), m_work(std::move(work)), m_browser(std::move(browser)) {
        std::ofstream(m_work / "origin.py") << kOrigin;
    }

    bool Visit() {
        // Flags as measured for a headless run that creates a real profile.
        std::string script =
            "ip link set lo up || exit 3\n"
            "python3 '" +
            (m_work / "origin.py").string() + "' '" + (m_work / "requests.log").string() +
            "' & origin=$!\n"
            // Until the origin listens, for as long as a start may take on a
            // busy machine; the run fails if it never does.
            "python3 -c 'import socket, time\n"
            "end = time.monotonic() + 30\n"
            "while True:\n"
            "    try:\n"
            "        socket.create_connection((\"127.0.0.1\", 18080)).close()\n"
            "        break\n"
            "    except OSError:\n"
            "        if time.monotonic() > end: raise SystemExit(4)\n"
            "        time.sleep(0.05)' || { kill $origin; exit 4; }\n" +
            m_browser +
            " >/dev/null 2>&1\n"
            "status=$?\n{ kill $origin; wait $origin; } 2>/dev/null\nexit $status\n";
        // Now and then a headless browser hangs on its way out (once in a
        // whole test run, under load). Such a run is killed and made again,
        // with the requests it logged forgotten; a run that ends is kept.
        const fs::path log = m_work / "requests.log";
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::error_code ec;
            const std::uintmax_t logged = fs::exists(log) ? fs::file_size(log, ec) : 0;
            const int status = RunBounded(
                {FindProgram("unshare"), "-n", "/bin/sh", "-c", script},
                {"HOME=" + m_home.home.string(), "XDG_CONFIG_HOME=" + m_home.configHome.string(),
                 "XDG_CACHE_HOME=" + m_home.cacheHome.string()},
                90s);
            if (status != kTimedOut) {
                return status == 0;
            }
            fs::resize_file(log, logged, ec);
        }
        return false;
    }

    std::vector<std::string> Requests() const {
        std::ifstream in(m_work / "requests.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Visits the storage page once: what it found in its local storage
    // ("null" for nothing), or "" when it made no report.
    std::string VisitStoragePage() {
        std::size_t seen = Requests().size();
        if (!Visit()) {
            return "";
        }
        constexpr std::string_view kReport = "/report?found=";
        std::vector<std::string> requests = Requests();
        for (std::size_t i = seen; i < requests.size(); ++i) {
            if (requests[i].starts_with(kReport)) {
                return requests[i].substr(kReport.size(), requests[i].find(' ') - kReport.size());
            }
        }
        return "";
    }

private:
    BrowserHome m_home;
    fs::path m_work;
    std::string m_browser;
};

bool CanLaunch(const char* browser) {
    if (FindProgram(browser).empty() || FindProgram("unshare").empty() ||
        FindProgram("python3").empty() || FindProgram("ip").empty()) {
        return false;
    }
    return RunBounded({FindProgram("unshare"), "-n", "/bin/true"}, {}, 10s) == 0;
}

// A home of its own for each test, with a folder for the origin server, and
// the browser the test drives, skipped where it cannot be launched.
class BrowserTest : public ::testing::Test {
protected:
    explicit BrowserTest(const char* browser) : m_browser(browser) {}
    void SetUp() override {
        if (!CanLaunch(m_browser)) {
            GTEST_SKIP() << "needs " << m_browser
                         << ", unshare with a private network namespace, ip, python3";
        }
        fs::create_directories(work);
    }

    FakeHome fake;
    const BrowserHome& home = fake.Home();
    fs::path work = home.home / "work";

private:
    const char* m_browser;
};

class ChromiumCleaningTest : public BrowserTest {
protected:
    ChromiumCleaningTest() : BrowserTest("chromium") {}
};

class FirefoxCleaningTest : public BrowserTest {
protected:
    FirefoxCleaningTest() : BrowserTest("firefox-esr") {}
};

TEST_F(ChromiumCleaningTest, OneCycleLeavesNoCookiesNorHistoryAndTheNextVisitSendsNoCookie) {
    BrowserVisit browser(home, work, std::string(kChromium) + kPage);

    ASSERT_TRUE(browser.Visit());
    std::size_t firstVisit = browser.Requests().size();
    ASSERT_GE(firstVisit, 1u);
    EXPECT_EQ(browser.Requests().front(), "/ cookie=");
    fs::path profile = home.configHome / "chromium" / "Default";
    ASSERT_GT(Count(profile / "Cookies", "SELECT count(*) FROM cookies"), 0);
    ASSERT_GT(Count(profile / "History", "SELECT count(*) FROM urls"), 0);
    ASSERT_EQ(Count(profile / "History", "SELECT sum(typed_count) FROM urls"), 1);
    fs::path cache = home.cacheHome / "chromium" / "Default" / "Cache" / "Cache_Data";

    auto cacheEntries = [&cache] {
        int entries = 0;
        std::error_code ec;
        for (fs::directory_iterator it(cache, ec), end; !ec && it != end; it.increment(ec)) {
            entries += it->path().filename().string().ends_with("_0") ? 1 : 0;
        }
        return entries;
    };
    ASSERT_GT(cacheEntries(), 0);

    BrowserTraceStore store(home);
    {
        // One cycle: the worker stops once everything it should remove is gone.
        CleaningWorker worker(store.Stores());
        worker.Restart(1, 1, 1, 1);
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((Count(profile / "Cookies", "SELECT count(*) FROM cookies") != 0 ||
                Count(profile / "History", "SELECT count(*) FROM urls") != 0 ||
                cacheEntries() != 0) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
    }
    EXPECT_EQ(Count(profile / "Cookies", "SELECT count(*) FROM cookies"), 0);
    EXPECT_EQ(Count(profile / "History", "SELECT count(*) FROM urls"), 0);
    EXPECT_EQ(Count(profile / "History", "SELECT count(*) FROM visits"), 0);
    EXPECT_EQ(Text(profile / "History", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Text(profile / "Cookies", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(cacheEntries(), 0);

    ASSERT_TRUE(browser.Visit());
    std::vector<std::string> requests = browser.Requests();
    // The page itself; a favicon request after it carries the new cookie.
    ASSERT_GT(requests.size(), firstVisit);
    EXPECT_EQ(requests[firstVisit], "/ cookie=") << "the cleaned cookie came back";
}

// Firefox only ever runs on a profile that carries these: a dead proxy for
// everything but loopback, and no updates, telemetry or safe-browsing calls.
constexpr const char* kFirefoxPrefs = R"(user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("app.update.enabled", false);
user_pref("app.update.auto", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("extensions.update.enabled", false);
)";

// The profile exists, with its prefs, before Firefox ever starts on it.
fs::path AddFirefoxTestProfile(const BrowserHome& home) {
    fs::path root = home.home / ".mozilla" / "firefox";
    fs::path profile = root / "quillon.test";
    fs::create_directories(profile);
    std::ofstream(profile / "user.js") << kFirefoxPrefs;
    std::ofstream(root / "profiles.ini")
        << "[Profile0]\nName=test\nIsRelative=1\nPath=quillon.test\nDefault=1\n";
    return profile;
}

std::string FirefoxVisiting(const fs::path& profile, const fs::path& work, const char* url) {
    return "firefox-esr --headless -profile '" + profile.string() + "' --screenshot '" +
           (work / "shot.png").string() + "' " + url;
}

// What a page keeps in its local storage lasts from one run to the next, and
// one cookie step in between leaves the next run nothing to find. `stored` is
// where the browser keeps it; `kept` must survive the step.
void ExpectCookieStepClearsLocalStorage(const BrowserHome& home, BrowserVisit& browser,
                                        const fs::path& stored, const fs::path& kept) {
    ASSERT_EQ(browser.VisitStoragePage(), "null");
    ASSERT_EQ(browser.VisitStoragePage(), "v") << "the browser kept no local storage";
    ASSERT_TRUE(fs::exists(stored));
    ASSERT_TRUE(fs::exists(kept));

    BrowserTraceStore store(home);
    DeleteCookies(store.Stores());
    EXPECT_FALSE(fs::exists(stored));
    EXPECT_TRUE(fs::exists(kept));

    EXPECT_EQ(browser.VisitStoragePage(), "null") << "the page found what it stored before";
}

TEST_F(FirefoxCleaningTest, CookiesAndHistoryGoAndTheDefaultBookmarksStay) {
    fs::path profile = AddFirefoxTestProfile(home);
    BrowserVisit browser(home, work, FirefoxVisiting(profile, work, kPage));

    ASSERT_TRUE(browser.Visit());
    ASSERT_EQ(browser.Requests().size(), 1u);
    fs::path cookies = profile / "cookies.sqlite";
    fs::path places = profile / "places.sqlite";
    ASSERT_EQ(Count(cookies, "SELECT count(*) FROM moz_cookies"), 1);
    ASSERT_EQ(Count(places, "SELECT count(*) FROM moz_places WHERE url LIKE 'http://127.0.0.1%'"),
              1);
    long long bookmarks = Count(places, "SELECT count(*) FROM moz_bookmarks");
    ASSERT_GT(bookmarks, 0);

    BrowserTraceStore store(home);
    TraceStores stores = store.Stores();
    DeleteCookies(stores);
    DeleteHistoryEntries(stores);
    DeleteTemporaryFiles(stores);
    BlankTypedAddresses(stores);
    FullSweep(stores);

    EXPECT_EQ(Count(cookies, "SELECT count(*) FROM moz_cookies"), 0);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_historyvisits"), 0);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_places WHERE url LIKE 'http://127.0.0.1%'"),
              0);
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_bookmarks"), bookmarks);
    EXPECT_EQ(Count(places,
                    "SELECT count(*) FROM moz_bookmarks WHERE type = 1 AND fk NOT IN"
                    " (SELECT id FROM moz_places)"),
              0);
    EXPECT_EQ(Text(places, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Text(cookies, "PRAGMA integrity_check"), "ok");

    // Firefox starts on the cleaned profile, and the page comes without a cookie.
    ASSERT_TRUE(browser.Visit());
    std::vector<std::string> requests = browser.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], "/ cookie=");
    EXPECT_EQ(Count(places, "SELECT count(*) FROM moz_bookmarks"), bookmarks);
}

TEST_F(FirefoxCleaningTest, LocalStorageGoesWithTheCookies) {
    fs::path profile = AddFirefoxTestProfile(home);
    BrowserVisit browser(home, work, FirefoxVisiting(profile, work, kStoragePage));
    ExpectCookieStepClearsLocalStorage(home, browser,
                                       profile / "storage/default/http+++127.0.0.1+18080",
                                       profile / "storage/permanent/chrome");
}

TEST_F(ChromiumCleaningTest, LocalStorageGoesWithTheCookies) {
    BrowserVisit browser(home, work, std::string(kChromium) + kStoragePage);
    fs::path profile = home.configHome / "chromium" / "Default";
    ExpectCookieStepClearsLocalStorage(home, browser, profile / "Local Storage",
                                       profile / "Preferences");
}

}  // namespace
