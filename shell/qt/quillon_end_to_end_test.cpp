// The real program, started the way a desktop session would start it but
// without a display, over a settings store of the test's own: it relays
// through the stored upstream (a real tinyproxy), points GNOME's settings
// (keyfile backend) at itself, keeps the autostart entry, fetches the list
// on the first run, writes its messages to standard error, and a second
// start hands over to it and ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "loopback.h"
#include "peers.h"
#include "socket_shim.h"

namespace {

namespace fs = std::filesystem;
using Output = testsupport::CommandOutput;
using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WaitForText;

constexpr std::uint16_t kLocalPort = 8080;

bool PortTaken(std::uint16_t port) {
    return testsupport::WaitForListener(port, 1);
}

class QuillonEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        if (PortTaken(kLocalPort)) {
            GTEST_SKIP() << "port 8080 is in use; the program's port is fixed";
        }
        fs::create_directories(m_home.Path() + "/config");
        fs::create_directories(m_home.Path() + "/runtime");
        fs::permissions(m_home.Path() + "/runtime", fs::perms::owner_all);
        fs::create_directories(m_home.Path() + "/data");
        // Everything the program reaches lives in the test's folder.
        setenv("XDG_CONFIG_HOME", (m_home.Path() + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_home.Path() + "/runtime").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_home.Path() + "/share").c_str(), 1);
        setenv("GSETTINGS_BACKEND", "keyfile", 1);
        setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
        setenv("QUILLON_VENDOR_URL",
               ("http://127.0.0.1:" + std::to_string(m_vendor.Port())).c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        Set("AppPath", "REG_SZ", m_home.Path() + "/data/");
        Set("Minimize", "REG_DWORD", "1");
    }

    void Set(const std::string& name, const std::string& type, const std::string& data) {
        const Output out =
            RunCommand(std::string(QUILLON_REG) + " add \"HKLM\\Software\\Quillon\" /v " + name +
                       " /t " + type + " /d \"" + data + "\" /f");
        ASSERT_EQ(out.exitCode, 0) << out.text;
    }

    std::string Get(const std::string& name) {
        return RunCommand(std::string(QUILLON_REG) + " query \"HKLM\\Software\\Quillon\" /v " +
                          name)
            .text;
    }
    // The value as the query prints it ("0x1"); empty when it is not stored.
    std::string Value(const std::string& name) {
        const std::string out = Get(name);
        const std::size_t type = out.find("REG_");
        if (type == std::string::npos) {
            return "";
        }
        const std::size_t value = out.find_first_not_of(' ', out.find(' ', type));
        return value == std::string::npos ? "" : out.substr(value, out.find('\n', value) - value);
    }

    std::string Log() const { return m_home.Path() + "/quillon.log"; }

    static std::string Gnome(const std::string& key, const std::string& schema = "") {
        return RunCommand("gsettings get org.gnome.system.proxy" + schema + " " + key).text;
    }
    // A user's own configuration, as a desktop would have it before the
    // program ever ran: a PAC file on GNOME and KDE, hosts of their own.
    void SetUsersOwnProxyConfiguration() {
        for (const char* set : {"mode 'auto'", "autoconfig-url 'http://wpad.example/proxy.pac'",
                                "ignore-hosts \"['corp.example', 'localhost']\""}) {
            ASSERT_EQ(
                RunCommand(std::string("gsettings set org.gnome.system.proxy ") + set).exitCode, 0);
        }
        m_home.Write("config/kioslaverc", kUsersKioslaverc);
    }
    void ExpectUsersOwnProxyConfiguration(const std::string& when) {
        EXPECT_EQ(Gnome("mode"), "'auto'\n") << when;
        EXPECT_EQ(Gnome("autoconfig-url"), "'http://wpad.example/proxy.pac'\n") << when;
        EXPECT_EQ(Gnome("ignore-hosts"), "['corp.example', 'localhost']\n") << when;
        EXPECT_EQ(ReadFile(m_home.Path() + "/config/kioslaverc"), kUsersKioslaverc) << when;
    }
    bool BrowserPointedAtTheProgram() {
        return Gnome("mode") == "'manual'\n" && Gnome("host", ".http") == "'127.0.0.1'\n" &&
               Gnome("port", ".http") == "8080\n";
    }

    static constexpr const char* kUsersKioslaverc =
        "[Proxy Settings]\nNoProxyFor=corp.example\nProxy Config "
        "Script=http://wpad.example/proxy.pac\nProxyType=2\n\n[Other]\nKept=yes\n";

    std::unique_ptr<ChildProcess> Start() {
        return std::make_unique<ChildProcess>(std::vector<std::string>{QUILLON_PROGRAM}, Log());
    }

    TempDir m_home;
    testsupport::Nginx m_vendor;
};

TEST_F(QuillonEndToEnd, RelaysThroughTheStoredProxyAndHandsOverToASecondStart) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready() && m_vendor.Ready());
    m_vendor.WriteFile("page.txt", "through the chain\n");
    Set("RunFirst", "REG_DWORD", "1");
    Set("ProxyName", "REG_SZ", "127.0.0.1:" + std::to_string(upstream.Port()));
    Set("AppFullPath", "REG_SZ", "/opt/quillon/bin/quillon");

    auto program = Start();
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());

    const std::string url = "http://127.0.0.1:" + std::to_string(m_vendor.Port()) + "/page.txt";
    const std::string curl = "curl -s --max-time 10 -x 127.0.0.1:8080 " + url;
    EXPECT_EQ(RunCommand(curl).text, "through the chain\n");

    // GNOME is pointed at the local proxy, once the engine listens (so a
    // moment after the listener is seen).
    EXPECT_TRUE(testsupport::WaitFor([&] { return BrowserPointedAtTheProgram(); }))
        << Gnome("mode") << Gnome("host", ".http") << Gnome("port", ".http");

    const std::string entry = ReadFile(m_home.Path() + "/config/autostart/quillon.desktop");
    EXPECT_NE(entry.find("/opt/quillon/bin/quillon"), std::string::npos) << entry;

    // A second copy asks the first for its window and ends, without a tray
    // icon or a window of its own; the first carries on. One that hung would
    // be ended by the time-out (status 124).
    const Output second = RunCommand("timeout 60 " + std::string(QUILLON_PROGRAM));
    EXPECT_EQ(second.exitCode, 0) << second.text;
    EXPECT_EQ(RunCommand(curl).text, "through the chain\n");
    // The first start's settings read was not disturbed by the second.
    EXPECT_EQ(Value("Minimize"), "0x1");
}

// A session's end (logout sends SIGTERM) ends the run like Exit ends it, so
// the pop-ups blocked during the run are kept; the browser's settings stay,
// as after any end but Exit.
TEST_F(QuillonEndToEnd, SigtermKeepsTheBlockedPopupCount) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready() && m_vendor.Ready());
    m_vendor.WriteFile("popup.html",
                       "<html><body><script>window.open('about:blank');</script></body></html>");
    Set("RunFirst", "REG_DWORD", "1");
    Set("BlockPopups", "REG_DWORD", "1");
    Set("NrOfBlockPopups", "REG_DWORD", "5");
    Set("ProxyName", "REG_SZ", "127.0.0.1:" + std::to_string(upstream.Port()));

    auto program = Start();
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());
    const std::string url = "http://127.0.0.1:" + std::to_string(m_vendor.Port()) + "/popup.html";
    const Output page = RunCommand("curl -s --max-time 10 -x 127.0.0.1:8080 " + url);
    ASSERT_NE(page.text.find("//ndow.open"), std::string::npos) << page.text;

    EXPECT_EQ(program->Stop(), 0) << ReadFile(Log());
    EXPECT_EQ(Value("NrOfBlockPopups"), "0x6");
    EXPECT_EQ(Value("BlockPopups"), "0x1");
}

// However a session ends (logout, shutdown, Ctrl+C), the browser gets the
// user's own configuration back, and every stored setting stays: the next
// start switches on again.
TEST_F(QuillonEndToEnd, EverySessionEndGivesTheBrowserItsOwnConfigurationBack) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready());
    SetUsersOwnProxyConfiguration();
    Set("RunFirst", "REG_DWORD", "1");
    const std::string proxy = "127.0.0.1:" + std::to_string(upstream.Port());
    Set("ProxyName", "REG_SZ", proxy);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        auto program = Start();
        ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());
        ASSERT_TRUE(testsupport::WaitFor([&] { return BrowserPointedAtTheProgram(); }, 10000));
        EXPECT_NE(ReadFile(m_home.Path() + "/config/kioslaverc").find("ProxyType=1"),
                  std::string::npos);
        EXPECT_EQ(program->Stop(signal), 0) << signal << ReadFile(Log());
        ExpectUsersOwnProxyConfiguration("after signal " + std::to_string(signal));
        EXPECT_EQ(Value("ProxyName"), proxy);
    }
}

// A crash leaves the browser pointed at the program; the next start puts it
// right, even when it cannot listen because another program took the port
// meanwhile: it says so, and gives the browser back what the user had.
TEST_F(QuillonEndToEnd, APortTakenAfterACrashIsToldAndTheBrowserGivenBack) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready());
    SetUsersOwnProxyConfiguration();
    Set("RunFirst", "REG_DWORD", "1");
    Set("ProxyName", "REG_SZ", "127.0.0.1:" + std::to_string(upstream.Port()));
    auto crashing = Start();
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());
    ASSERT_TRUE(testsupport::WaitFor([&] { return BrowserPointedAtTheProgram(); }, 10000));
    EXPECT_EQ(crashing->Stop(SIGKILL), 128 + SIGKILL);

    net::Socket squatter(net::OpenTcp());
    ASSERT_TRUE(net::BindIPv4(squatter.Get(), net::kLoopbackAddress, kLocalPort));
    ASSERT_TRUE(net::Listen(squatter.Get(), 5));
    auto program = Start();
    ASSERT_TRUE(WaitForText(Log(), "Port 8080 on 127.0.0.1 is in use by another program"))
        << ReadFile(Log());
    ExpectUsersOwnProxyConfiguration("at a start that cannot listen");
    EXPECT_EQ(program->Stop(), 0) << ReadFile(Log());
    ExpectUsersOwnProxyConfiguration("at its end");
}

// A first start with a proxy stored (a user whose first list download
// failed): the browser stays pointed at the program, which relays.
TEST_F(QuillonEndToEnd, AFirstStartWithAStoredProxyLeavesTheBrowserPointedAtWhatRuns) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready() && m_vendor.Ready());
    m_vendor.WriteFile("page.txt", "through the chain\n");
    // The vendor answers nothing.
    testsupport::LoopbackServer vendor([](net::Socket& c) { testsupport::ReceiveRequest(c); });
    setenv("QUILLON_VENDOR_URL", ("http://127.0.0.1:" + std::to_string(vendor.Port())).c_str(), 1);
    Set("ProxyName", "REG_SZ", "127.0.0.1:" + std::to_string(upstream.Port()));

    auto program = Start();
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());
    // The download comes after whatever the first start does to the browser.
    ASSERT_TRUE(testsupport::WaitFor([&] { return vendor.Accepted() > 0; }, 20000))
        << ReadFile(Log());
    EXPECT_TRUE(BrowserPointedAtTheProgram()) << Gnome("mode");
    const std::string url = "http://127.0.0.1:" + std::to_string(m_vendor.Port()) + "/page.txt";
    EXPECT_EQ(RunCommand("curl -s --max-time 10 -x 127.0.0.1:8080 " + url).text,
              "through the chain\n");
}

// A connection reads the filter's switches from memory. Counted in system
// calls: while browsers open connection after connection (the switches
// absent, as after installing), nothing opens the settings store again.
TEST_F(QuillonEndToEnd, ConnectionsNeverOpenTheSettingsStore) {
    if (RunCommand("strace -V").exitCode != 0) {
        GTEST_SKIP() << "needs strace";
    }
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready() && m_vendor.Ready());
    m_vendor.WriteFile("page.html", "<html><script>x</script></html>\n");
    Set("RunFirst", "REG_DWORD", "1");
    Set("ProxyName", "REG_SZ", "127.0.0.1:" + std::to_string(upstream.Port()));
    auto program = Start();
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());

    // Every thread of the running program, from now on.
    const std::string trace = m_home.Path() + "/trace";
    ChildProcess strace(
        {"/usr/bin/strace", "-f", "-qq", "-e", "trace=open,openat,openat2,accept,accept4", "-o",
         trace, "-p", std::to_string(program->Pid())},
        m_home.Path() + "/strace.log");
    ASSERT_TRUE(testsupport::WaitFor([&] { return fs::exists(trace); }, 10000))
        << ReadFile(m_home.Path() + "/strace.log");
    const std::string url = "http://127.0.0.1:" + std::to_string(m_vendor.Port()) + "/page.html";
    const auto fetch = [&] {
        return RunCommand("curl -s --max-time 10 -x 127.0.0.1:8080 " + url).text.find("<html>") !=
               std::string::npos;
    };
    // strace follows the threads once it has seen a connection come in.
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return fetch() && ReadFile(trace).find("accept") != std::string::npos; }, 10000));
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(fetch());
    }
    strace.Stop();
    const std::string opened = ReadFile(trace);
    EXPECT_EQ(opened.find("quillon/settings.db"), std::string::npos) << opened;
    std::size_t accepted = 0;
    for (std::size_t at = 0; (at = opened.find("accept", at)) != std::string::npos; ++at) {
        ++accepted;
    }
    EXPECT_GE(accepted, 20u) << "strace did not see the connections";
}

TEST_F(QuillonEndToEnd, FirstRunFetchesTheListIntoTheApplicationFolder) {
    // The vendor answers every request with the list.
    testsupport::LoopbackServer vendor([](net::Socket& connection) {
        testsupport::ReceiveRequest(connection);
        testsupport::SendText(connection, testsupport::HttpResponse("127.0.0.1:3128\r\n"));
    });
    setenv("QUILLON_VENDOR_URL", ("http://127.0.0.1:" + std::to_string(vendor.Port())).c_str(), 1);

    auto program = Start();
    ASSERT_TRUE(program->Started());
    const std::string list = m_home.Path() + "/data/proxylist.txt";
    ASSERT_TRUE(WaitForText(list, "127.0.0.1:3128")) << ReadFile(Log());
    EXPECT_EQ(ReadFile(list), "127.0.0.1:3128\r\r\n");
    EXPECT_TRUE(testsupport::WaitFor([&] { return Value("RunFirst") == "0x1"; }));
}

// Installed from a package, the program meets a user for whom nothing is
// stored: it keeps its list in the user's data folder and makes its autostart
// entry at once.
TEST_F(QuillonEndToEnd, AFirstStartWithNothingStoredUsesTheDataFolderAndStartsAtLogon) {
    testsupport::LoopbackServer vendor([](net::Socket& connection) {
        testsupport::ReceiveRequest(connection);
        testsupport::SendText(connection, testsupport::HttpResponse("127.0.0.1:3128\r\n"));
    });
    setenv("QUILLON_VENDOR_URL", ("http://127.0.0.1:" + std::to_string(vendor.Port())).c_str(), 1);
    const Output removed =
        RunCommand(std::string(QUILLON_REG) + " delete \"HKLM\\Software\\Quillon\" /v AppPath /f");
    ASSERT_EQ(removed.exitCode, 0) << removed.text;

    auto program = Start();
    ASSERT_TRUE(program->Started());
    const std::string folder = m_home.Path() + "/share/quillon/";
    ASSERT_TRUE(WaitForText(folder + "proxylist.txt", "127.0.0.1:3128")) << ReadFile(Log());
    EXPECT_EQ(Value("AppPath"), folder);
    const std::string program_path = fs::canonical(QUILLON_PROGRAM).string();
    EXPECT_EQ(Value("AppFullPath"), program_path);
    const std::string entry = ReadFile(m_home.Path() + "/config/autostart/quillon.desktop");
    EXPECT_NE(entry.find("Exec=" + program_path), std::string::npos) << entry;
}

TEST_F(QuillonEndToEnd, WithoutADisplayMessagesGoToStandardErrorAndReturn) {
    // A folder that cannot hold the list: the file error, and the program
    // carries on (the fetch is tried again at the next start).
    Set("AppPath", "REG_SZ", m_home.Path() + "/missing/");
    auto program = Start();
    ASSERT_TRUE(program->Started());
    EXPECT_TRUE(WaitForText(Log(), "quillon: ")) << ReadFile(Log());
    EXPECT_NE(ReadFile(Log()).find(m_home.Path() + "/missing/proxylist.txt"), std::string::npos)
        << ReadFile(Log());
    EXPECT_NE(Value("RunFirst"), "0x1");
}

// The proxies of catalogue/testing/vendor_peers.sh, started inside this
// test's network namespace and stopped by the pids the script keeps.
class GradedPeers {
public:
    GradedPeers() {
        // Beside this source, as the build names it.
        const fs::path root = fs::path(__FILE__).parent_path().parent_path().parent_path();
        m_script = (root / "catalogue/testing/vendor_peers.sh").string();
        m_ready =
            RunCommand(m_script + " start " + Dir() + " " + (root / "vendor").string()).exitCode ==
            0;
    }
    ~GradedPeers() { RunCommand(m_script + " stop " + Dir()); }
    bool Ready() const { return m_ready; }
    std::string Endpoint(const std::string& name) const {
        return "127.0.0.1:" +
               std::to_string(std::atoi(ReadFile(Dir() + "/" + name + ".port").c_str()));
    }

private:
    std::string Dir() const { return m_dir.Path() + "/peers"; }
    TempDir m_dir;
    std::string m_script;
    bool m_ready = false;
};

// Switched on at start to a proxy that does not answer, with the list and
// its last check stored: the program moves to the elite proxy on its own,
// stores it, says so, and the browser's requests go through it.
TEST_F(QuillonEndToEnd, AProxyThatStopsAnsweringIsReplacedByTheEliteOne) {
    GradedPeers peers;
    ASSERT_TRUE(peers.Ready());
    const std::string dead = "127.0.0.1:" + std::to_string(testsupport::FreePort());
    const std::string elite = peers.Endpoint("elite");
    const std::string judge = "http://" + peers.Endpoint("nginx");
    // The check the program runs at start asks the peers' judge too.
    setenv("QUILLON_VENDOR_URL", judge.c_str(), 1);
    m_home.Write("data/proxylist.txt", dead + "\r\r\n" + peers.Endpoint("transparent") + "\r\r\n" +
                                           peers.Endpoint("anonymous") + "\r\r\n" + elite +
                                           "\r\r\n");
    // The transparent and anonymous ones are faster, and must not be taken
    // for it.
    const std::string checked = "\t2026-12-10T17:25:41Z\r\n";
    m_home.Write("data/proxycheck.txt",
                 dead + "\tdead\t-\t-\t-" + checked + peers.Endpoint("transparent") +
                     "\talive\t1\ttransparent\tyes" + checked + peers.Endpoint("anonymous") +
                     "\talive\t2\tanonymous\tno" + checked + elite + "\talive\t90\telite\tyes" +
                     checked);
    Set("RunFirst", "REG_DWORD", "1");
    Set("ProxyName", "REG_SZ", dead);

    auto program = Start();
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort)) << ReadFile(Log());
    // The judge names who asked: the elite proxy leaves from 127.0.0.4.
    const std::string curl =
        "curl -s --max-time 10 -x 127.0.0.1:8080 " + judge + "/licensing/ProxyGenerator/judge";
    const auto throughElite = [&] {
        return RunCommand(curl).text.find("REMOTE_ADDR: 127.0.0.4") != std::string::npos;
    };
    // A burst of failed connects moves it; until the stored check is read,
    // there is nothing to move to.
    ASSERT_TRUE(testsupport::WaitFor(throughElite, 60000)) << ReadFile(Log());
    EXPECT_TRUE(throughElite());
    EXPECT_TRUE(testsupport::WaitFor([&] { return Value("ProxyName") == elite; }))
        << Get("ProxyName");
    EXPECT_EQ(Value("UseProxy"), "0x1");
    // No notification area here: the notice goes to the log.
    EXPECT_TRUE(
        WaitForText(Log(), "Quillon switched to " + elite + ": " + dead + " stopped answering."))
        << ReadFile(Log());
}

}  // namespace
