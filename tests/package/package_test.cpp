// The Debian package as a user gets it: made by cpack from this build,
// checked by lintian and appstreamcli, unpacked into a scratch root, and the
// unpacked program started the way a new user meets it, with an empty home.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "loopback.h"
#include "peers.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WaitForText;

const std::string kPackage = std::string("quillon_") + QUILLON_VERSION + "_amd64.deb";

class DebianPackage : public testing::Test {
protected:
    // One package for all the tests: cpack installs the build, strips it
    // and computes the dependencies, which takes a while.
    static void SetUpTestSuite() {
        s_work = new TempDir;
        s_made = RunCommand("cd " QUILLON_BUILD_DIR " && cpack -G DEB -B " + s_work->Path());
        s_root = s_work->Path() + "/root";
        if (s_made.exitCode == 0) {
            s_unpacked = RunCommand("dpkg -x " + Deb() + " " + s_root);
        }
    }

    static void TearDownTestSuite() {
        delete s_work;
        s_work = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(s_made.exitCode, 0) << s_made.text;
        ASSERT_EQ(s_unpacked.exitCode, 0) << s_unpacked.text;
    }

    static std::string Deb() { return s_work->Path() + "/" + kPackage; }
    static std::string Field(const std::string& name) {
        return RunCommand("dpkg-deb -f " + Deb() + " " + name).text;
    }

    static inline TempDir* s_work = nullptr;
    static inline testsupport::CommandOutput s_made;
    static inline testsupport::CommandOutput s_unpacked;
    static inline std::string s_root;
};

TEST_F(DebianPackage, LintianFindsNoFaultAndTheDependenciesAreComputed) {
    const auto lintian = RunCommand("lintian --fail-on error,warning " + Deb());
    EXPECT_EQ(lintian.exitCode, 0) << lintian.text;
    EXPECT_EQ(lintian.text.find("E: "), std::string::npos) << lintian.text;
    EXPECT_EQ(lintian.text.find("W: "), std::string::npos) << lintian.text;

    // dpkg-shlibdeps names the package of every library the programs link.
    const std::string depends = Field("Depends");
    for (const char* library : {"libc6 ", "libqt6widgets6 ", "libqt6network6 ", "libcurl4 ",
                                "libsqlite3-0 ", "libglib2.0-0 "}) {
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    }
    EXPECT_EQ(Field("Version"), std::string(QUILLON_VERSION) + "\n");
    // Without Qt's Wayland platform a Wayland session gets the program under
    // XWayland, where a second start cannot bring its window forward.
    EXPECT_NE(Field("Recommends").find("qt6-wayland"), std::string::npos) << Field("Recommends");
}

TEST_F(DebianPackage, HoldsWhatTheDesktopAndTheSoftwareCentreRead) {
    for (const char* file :
         {"usr/bin/quillon", "usr/bin/quillon-reg", "usr/bin/quillon-probe",
          "usr/share/quillon/index.htm", "usr/share/applications/quillon.desktop",
          "usr/share/icons/hicolor/16x16/apps/quillon.png",
          "usr/share/icons/hicolor/32x32/apps/quillon.png",
          "usr/share/icons/hicolor/48x48/apps/quillon.png",
          "usr/share/icons/hicolor/256x256/apps/quillon.png", "usr/share/man/man1/quillon.1.gz",
          "usr/share/man/man1/quillon-reg.1.gz", "usr/share/man/man1/quillon-probe.1.gz",
          "usr/share/doc/quillon/copyright", "usr/share/doc/quillon/changelog.gz"}) {
        EXPECT_TRUE(fs::is_regular_file(s_root + "/" + file)) << file;
    }
    // The metadata, its menu entry and icon checked together as a software
    // centre reads them from the installed tree.
    const auto tree = RunCommand("appstreamcli validate-tree --no-net " + s_root);
    EXPECT_EQ(tree.exitCode, 0) << tree.text;
    EXPECT_NE(tree.text.find("example.quillon.Quillon"), std::string::npos) << tree.text;
    // The programs in the package carry no path into this build.
    const auto paths =
        RunCommand("strings " + s_root + "/usr/bin/quillon " + s_root + "/usr/bin/quillon-reg " +
                   s_root + "/usr/bin/quillon-probe | grep -F " QUILLON_BUILD_DIR);
    EXPECT_NE(paths.exitCode, 0) << paths.text;
}

TEST_F(DebianPackage, TheInstalledProgramStartsInAnEmptyHome) {
    if (testsupport::WaitForListener(8080, 1)) {
        GTEST_SKIP() << "port 8080 is in use; the program's port is fixed";
    }
    testsupport::LoopbackServer vendor([](net::Socket& connection) {
        testsupport::ReceiveRequest(connection);
        testsupport::SendText(connection, testsupport::HttpResponse("127.0.0.1:3128\r\n"));
    });
    TempDir home;
    TempDir runtime;
    fs::permissions(runtime.Path(), fs::perms::owner_all);
    // A new user's session: nothing but HOME; the XDG folders are the
    // defaults under it.
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "DISPLAY",
                             "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy", "HTTP_PROXY"}) {
        unsetenv(name);
    }
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    setenv("QUILLON_VENDOR_URL", ("http://127.0.0.1:" + std::to_string(vendor.Port())).c_str(), 1);

    const std::string program = s_root + "/usr/bin/quillon";
    const std::string log = runtime.Path() + "/quillon.log";
    {
        testsupport::ChildProcess started({program}, log);
        ASSERT_TRUE(started.Started());
        const std::string list = home.Path() + "/.local/share/quillon/proxylist.txt";
        EXPECT_TRUE(WaitForText(list, "127.0.0.1:3128")) << ReadFile(log);
        const std::string entry = home.Path() + "/.config/autostart/quillon.desktop";
        EXPECT_TRUE(WaitForText(entry, "Exec=" + program + "\n")) << ReadFile(entry);
        EXPECT_EQ(started.Stop(), 0) << ReadFile(log);
    }
    // What the first start stored, as the installed settings tool shows it.
    const auto stored =
        RunCommand(s_root + "/usr/bin/quillon-reg query \"HKLM\\Software\\Quillon\"");
    EXPECT_EQ(stored.exitCode, 0) << stored.text;
    EXPECT_NE(stored.text.find(home.Path() + "/.local/share/quillon/"), std::string::npos)
        << stored.text;
    EXPECT_NE(stored.text.find(program), std::string::npos) << stored.text;
}

}  // namespace
