// The XDG autostart file follows AppFullPath, keeps the user's own lines and
// runs exactly the installed program whatever its path holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "autostart_linux.h"
#include "desktop_entry.h"
#include "fake_registry_store.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

class AutostartFile : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillon-autostart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_file = m_dir / "autostart" / "quillon.desktop";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void SetAppFullPath(const std::string& path) {
        m_store.CreateKey(RegistryRoot::LocalMachine, "Software\\Quillon")
            ->SetValue("AppFullPath", kRegSz, path + '\0');
    }
    void Start() {
        auto entry = DesktopAutostartEntry(m_file);
        RunAutostartStep(m_store, *entry);
    }
    std::string Content() {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& content) {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file, std::ios::binary) << content;
    }
    FakeRegistryStore m_store;
    fs::path m_dir;
    fs::path m_file;
};

TEST_F(AutostartFile, WrittenOnFirstStartThenOnlyWhenAppFullPathChanges) {
    Start();  // nothing installed
    EXPECT_FALSE(fs::exists(m_file));
    EXPECT_FALSE(fs::exists(m_file.parent_path()));

    SetAppFullPath("/opt/quillon/quillon");
    Start();
    EXPECT_EQ(Content(),
              "[Desktop Entry]\nType=Application\nName=Quillon\nExec=/opt/quillon/quillon\n");
    EXPECT_EQ(fs::status(m_file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    // Unchanged: not even rewritten with the same bytes.
    fs::last_write_time(m_file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto before = fs::last_write_time(m_file);
    Start();
    EXPECT_EQ(fs::last_write_time(m_file), before);

    SetAppFullPath("/usr/local/bin/quillon");
    Start();
    EXPECT_EQ(DesktopExecOf(Content()), "/usr/local/bin/quillon");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_file.parent_path()), fs::directory_iterator()),
              1);
}

TEST_F(AutostartFile, EditKeepsTheUsersOwnLinesAndGroups) {
    const std::string before =
        "# my tweaks\n"
        "[Desktop Entry]\r\n"
        "Type=Application\n"
        "Name=Quillon\n"
        "Exec = /old/quillon\n"
        "X-GNOME-Autostart-enabled=false\n"
        "\n"
        "[Desktop Action Other]\n"
        "Exec=/somewhere/else\n";
    Write(before);
    SetAppFullPath("/new/quillon");
    Start();
    std::string expected = before;
    expected.replace(expected.find("Exec = /old/quillon\n"), 20, "Exec=/new/quillon\n");
    EXPECT_EQ(Content(), expected);

    // A file without the group gets one; one without Exec gets the line.
    Write("# empty\n");
    Start();
    EXPECT_EQ(Content(), "# empty\n[Desktop Entry]\nExec=/new/quillon\n");
    Write("[Desktop Entry]");
    Start();
    EXPECT_EQ(Content(), "[Desktop Entry]\nExec=/new/quillon\n");
}

TEST_F(AutostartFile, EmptyAppFullPathNeverCreatesButClearsAnEntry) {
    SetAppFullPath("");
    Start();
    EXPECT_FALSE(fs::exists(m_file));
    Write("[Desktop Entry]\nExec=/old/quillon\n");
    Start();
    EXPECT_EQ(Content(), "[Desktop Entry]\nExec=\n");
}

TEST_F(AutostartFile, UnwritableFolderLeavesEverythingAndDoesNotFail) {
    // A file where the autostart folder belongs: nothing can be created there,
    // whoever runs the test.
    std::ofstream(m_dir / "autostart") << "not a folder";
    SetAppFullPath("/new/quillon");
    Start();
    EXPECT_TRUE(fs::is_regular_file(m_dir / "autostart"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST(DesktopExec, QuotesWhatTheFormatReservesAndRefusesControlCharacters) {
    EXPECT_EQ(EncodeDesktopExec("/opt/quillon/quillon"), "/opt/quillon/quillon");
    EXPECT_EQ(EncodeDesktopExec("/opt/My Apps/quillon"), "\"/opt/My Apps/quillon\"");
    // Inside quotes " ` $ \ take a backslash; the file format then doubles
    // every backslash. A percent sign is doubled so it is no field code.
    EXPECT_EQ(EncodeDesktopExec("/a b/$x\"y`z\\w"), R"("/a b/\\$x\\"y\\`z\\\\w")");
    EXPECT_EQ(EncodeDesktopExec("/opt/100%/q"), "/opt/100%%/q");
    EXPECT_EQ(EncodeDesktopExec("/opt/q'x"), "\"/opt/q'x\"");
    EXPECT_FALSE(EncodeDesktopExec("/opt/new\nline"));
    EXPECT_FALSE(EncodeDesktopExec("/opt/tab\there"));
}

}  // namespace
