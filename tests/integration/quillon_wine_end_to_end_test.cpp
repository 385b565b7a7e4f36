// The Windows program under Wine, on a virtual X display, in a Wine prefix
// of the test's own: started with settings seeded into the registry, it
// relays through the stored upstream (a real tinyproxy), points WinINet at
// itself, hides to its tray icon, hands over to a second start, and its Exit
// command switches pop-up blocking off and the browser back to direct access.
// A cross-built probe looks at the windows from inside the prefix.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loopback.h"
#include "peers.h"

namespace {

namespace fs = std::filesystem;
using Output = testsupport::CommandOutput;
using testsupport::ChildProcess;
using testsupport::RunCommand;
using testsupport::TempDir;

constexpr std::uint16_t kLocalPort = 8080;
const std::string kWindows = QUILLON_WINDOWS_BUILD;

std::string FirstExisting(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (!path.empty() && ::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string WindowsBuild() {
    const char* chosen = std::getenv("QUILLON_WINDOWS_BUILD");
    return chosen != nullptr && *chosen != '\0' ? chosen : kWindows;
}

// "Z:\tmp\x\" for "/tmp/x/": how Wine names a Linux folder.
std::string WineFolder(const std::string& path) {
    std::string name = "Z:" + path;
    for (char& c : name) {
        if (c == '/') {
            c = '\\';
        }
    }
    return name;
}

const std::string kInternetSettings =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

class QuillonUnderWine : public testing::Test {
protected:
    void SetUp() override {
        m_program = WindowsBuild() + "/quillon.exe";
        m_probe = WindowsBuild() + "/quillon_window_probe.exe";
        m_wine = FirstExisting({"/usr/bin/wine64", "/usr/bin/wine", "/usr/lib/wine/wine64"});
        m_wineserver = FirstExisting({"/usr/bin/wineserver", "/usr/lib/wine/wineserver"});
        if (!fs::exists(m_program) || !fs::exists(m_probe)) {
            GTEST_SKIP() << "no Windows build in " << WindowsBuild()
                         << " (set QUILLON_WINDOWS_BUILD or build build-win)";
        }
        if (m_wine.empty() || m_wineserver.empty()) {
            GTEST_SKIP() << "Wine is not installed";
        }
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            GTEST_SKIP() << "no X display (the test runs under xvfb-run)";
        }
        if (testsupport::WaitForListener(kLocalPort, 1)) {
            GTEST_SKIP() << "port 8080 is in use; the program's port is fixed";
        }
        setenv("WINEPREFIX", (m_home.Path() + "/prefix").c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        // With the browser's proxy off Wine falls back to these.
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");
        const Output boot = RunCommand(Wine("wineboot -i"));
        ASSERT_EQ(boot.exitCode, 0) << boot.text;
        // One virtual desktop with a taskbar: window frames and a notification
        // area, as on Windows.
        Reg("add 'HKCU\\Software\\Wine\\Explorer' /v Desktop /d Default /f");
        Reg("add 'HKCU\\Software\\Wine\\Explorer\\Desktops' /v Default /d 800x600 /f");
        // The desktop wineboot started has no taskbar: let Wine wind down, so
        // that the program's start brings up the one just chosen.
        RunCommand("timeout 60 " + m_wineserver + " -w");
    }

    void TearDown() override {
        m_running.reset();
        if (!m_wineserver.empty() && std::getenv("WINEPREFIX") != nullptr) {
            RunCommand("timeout 30 " + m_wineserver + " -k");
            RunCommand("timeout 30 " + m_wineserver + " -w");
        }
    }

    std::string Wine(const std::string& arguments) const {
        return "timeout 120 " + m_wine + " " + arguments;
    }

    void Reg(const std::string& arguments) {
        const Output out = RunCommand(Wine("reg " + arguments));
        ASSERT_EQ(out.exitCode, 0) << arguments << "\n" << out.text;
    }

    void Set(const std::string& name, const std::string& type, const std::string& data) {
        // Single quotes: a folder name ends in a backslash.
        Reg("add 'HKLM\\Software\\Quillon' /v " + name + " /t " + type + " /d '" + data + "' /f");
    }

    // A start after the first, switching on with the proxy; the user's own
    // proxy set from before the program ever ran.
    void SeedALaterStart(const std::string& proxy) {
        Set("ProxyName", "REG_SZ", proxy);
        Set("Minimize", "REG_DWORD", "1");
        Set("RunFirst", "REG_DWORD", "1");
        Set("AppPath", "REG_SZ", WineFolder(m_home.Path() + "/app/"));
        Reg("add '" + kInternetSettings + "' /v ProxyServer /d corp.example:3128 /f");
        Reg("add '" + kInternetSettings + "' /v ProxyEnable /t REG_DWORD /d 1 /f");
    }

    std::string Query(const std::string& key) {
        return RunCommand(Wine("reg query '" + key + "'")).text;
    }

    Output Probe(const std::string& arguments) {
        return RunCommand(Wine(m_probe + " " + arguments));
    }

    std::string Log() const { return m_home.Path() + "/quillon.log"; }

    void Start() {
        // Started from the application folder, as its help file lies beside it.
        m_running =
            std::make_unique<ChildProcess>(std::vector<std::string>{m_wine, m_program}, Log());
    }

    TempDir m_home;
    std::string m_program;
    std::string m_probe;
    std::string m_wine;
    std::string m_wineserver;
    std::unique_ptr<ChildProcess> m_running;
};

TEST_F(QuillonUnderWine, RelaysHidesToTheTrayHandsOverAndExitGivesTheUsersProxyBack) {
    testsupport::Tinyproxy upstream;
    testsupport::Nginx origin;
    ASSERT_TRUE(upstream.Ready() && origin.Ready());
    origin.WriteFile("page.txt", "through the chain\n");
    const std::string proxy = "127.0.0.1:" + std::to_string(upstream.Port());

    fs::create_directories(m_home.Path() + "/app");
    std::ofstream(m_home.Path() + "/app/proxylist.txt", std::ios::binary)
        << proxy << "\r\r\n10.0.0.1:80\r\r\n";
    SeedALaterStart(proxy);
    Set("UseProxy", "REG_DWORD", "1");
    Set("BlockPopups", "REG_DWORD", "1");

    Start();
    ASSERT_TRUE(m_running->Started());
    // Shown from the template, then hidden by the start timer: Minimize is 1.
    Output state = Probe("wait Quillon hidden 90");
    ASSERT_EQ(state.exitCode, 0) << state.text << std::ifstream(Log()).rdbuf();
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort, 30000));

    {
        SCOPED_TRACE("relay");
        const std::string url = "http://127.0.0.1:" + std::to_string(origin.Port()) + "/page.txt";
        const Output page = RunCommand("curl -s -i --max-time 20 -x 127.0.0.1:8080 " + url);
        EXPECT_NE(page.text.find("through the chain\n"), std::string::npos) << page.text;
        // tinyproxy names itself on the way back: the stored upstream was used.
        EXPECT_NE(page.text.find("tinyproxy"), std::string::npos) << page.text;
    }
    {
        SCOPED_TRACE("browser pointed at the local proxy");
        const std::string internet = Query(kInternetSettings);
        EXPECT_NE(internet.find("ProxyEnable    REG_DWORD    0x1"), std::string::npos) << internet;
        EXPECT_NE(internet.find("127.0.0.1:8080"), std::string::npos) << internet;
    }
    {
        SCOPED_TRACE("window and pages");
        const Output texts = Probe("texts Quillon");
        ASSERT_EQ(texts.exitCode, 0) << texts.text;
        EXPECT_NE(texts.text.find("0\twindow\thidden\tQuillon"), std::string::npos) << texts.text;
        // Checked: the stored UseProxy is 1.
        EXPECT_NE(texts.text.find("1002\tButton\tvisible\tEnable Quillon\tchecked"),
                  std::string::npos);
        // The stored proxy stands in the list's edit field.
        EXPECT_NE(texts.text.find("1028\tComboBox\tvisible\t" + proxy), std::string::npos)
            << texts.text;
        EXPECT_NE(texts.text.find("1029\tButton\tvisible\tSave Settings"), std::string::npos);
        EXPECT_NE(texts.text.find("\tSysTabControl32\tvisible"), std::string::npos);
        // The sheet shows none of its own buttons.
        EXPECT_NE(texts.text.find("1\tButton\thidden\tOK"), std::string::npos);
    }
    {
        SCOPED_TRACE("tray icon");
        // A right click on the icon in the taskbar opens the program's menu.
        const Output menu = Probe("tray Quillon");
        EXPECT_EQ(menu.exitCode, 0) << menu.text << Probe("windows -").text;
    }
    {
        SCOPED_TRACE("About box");
        // The system menu's item, 0x0010; its OK closes it.
        ASSERT_EQ(Probe("syscommand Quillon 16").exitCode, 0);
        state = Probe("wait 'About Quillon ...' exists 20");
        EXPECT_EQ(state.exitCode, 0) << state.text;
        const Output about = Probe("texts 'About Quillon ...'");
        EXPECT_NE(about.text.find("Quillon Version 1.1"), std::string::npos) << about.text;
        EXPECT_EQ(Probe("command 'About Quillon ...' 1").exitCode, 0);
        state = Probe("wait 'About Quillon ...' gone 20");
        EXPECT_EQ(state.exitCode, 0) << state.text;
    }
    {
        SCOPED_TRACE("second start");
        const Output second = RunCommand(Wine(m_program));
        EXPECT_EQ(second.exitCode, 0) << second.text;
        state = Probe("wait Quillon visible 20");
        EXPECT_EQ(state.exitCode, 0) << state.text;
    }
    {
        SCOPED_TRACE("Ctrl+Tab to the Privacy page");
        ASSERT_EQ(Probe("ctrltab Quillon").exitCode, 0);
        const Output texts = Probe("texts Quillon");
        EXPECT_NE(texts.text.find("#32770\tvisible\tPrivacy"), std::string::npos) << texts.text;
        EXPECT_NE(texts.text.find("#32770\thidden\tSettings"), std::string::npos);
        // Initialised when first shown, from the stored switches.
        EXPECT_NE(texts.text.find("1024\tButton\tvisible\tBlock Popups\tchecked"),
                  std::string::npos)
            << texts.text;
        EXPECT_NE(texts.text.find("1025\tEdit\tvisible\t0"), std::string::npos);
    }
    {
        SCOPED_TRACE("exit");
        ASSERT_EQ(Probe("command Quillon 32775").exitCode, 0);
        state = Probe("wait Quillon gone 30");
        EXPECT_EQ(state.exitCode, 0) << state.text;
        const std::string settings = Query("HKLM\\Software\\Quillon");
        EXPECT_NE(settings.find("BlockPopups    REG_DWORD    0x0"), std::string::npos) << settings;
        const std::string internet = Query(kInternetSettings);
        EXPECT_NE(internet.find("ProxyEnable    REG_DWORD    0x1"), std::string::npos) << internet;
        EXPECT_NE(internet.find("corp.example:3128"), std::string::npos) << internet;
        EXPECT_EQ(internet.find("127.0.0.1:8080"), std::string::npos) << internet;
    }
}

// The session ends (logoff, shutdown): the browser gets the user's proxy
// back, and the stored choice stays for the next start.
TEST_F(QuillonUnderWine, TheEndOfTheSessionGivesTheUsersProxyBack) {
    testsupport::Tinyproxy upstream;
    ASSERT_TRUE(upstream.Ready());
    fs::create_directories(m_home.Path() + "/app");
    const std::string proxy = "127.0.0.1:" + std::to_string(upstream.Port());
    SeedALaterStart(proxy);

    Start();
    ASSERT_TRUE(testsupport::WaitForListener(kLocalPort, 60000)) << std::ifstream(Log()).rdbuf();
    // The browser is pointed there once the engine listens: a moment later.
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return Query(kInternetSettings).find("127.0.0.1:8080") != std::string::npos; },
        60000));
    const Output ended = RunCommand(Wine("wineboot --end-session"));
    EXPECT_EQ(ended.exitCode, 0) << ended.text;
    const std::string internet = Query(kInternetSettings);
    EXPECT_NE(internet.find("corp.example:3128"), std::string::npos) << internet;
    EXPECT_NE(Query("HKLM\\Software\\Quillon").find(proxy), std::string::npos);
}

}  // namespace
