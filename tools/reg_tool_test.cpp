// quillon-reg against a real settings database: what it writes the settings
// read, what the settings write it shows, and bad arguments change nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "reg_tool.h"
#include "registry_dword.h"
#include "registry_string.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class RegTool : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillon-reg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_store = std::make_unique<SqliteRegistryStore>(m_dir / "settings.db");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    Outcome Run(std::vector<std::string> args, const std::string& answers = "") {
        std::istringstream in(answers);
        std::ostringstream out, err;
        const int code = RunRegTool(args, *m_store, in, out, err);
        return {code, out.str(), err.str()};
    }

    fs::path m_dir;
    std::unique_ptr<SqliteRegistryStore> m_store;
};

TEST_F(RegTool, AddedValuesReadBackThroughTheSettingsObjects) {
    EXPECT_EQ(
        Run({"add", "HKLM\\Software\\Quillon", "/v", "ProxyName", "/d", "10.1.2.3:3128"}).code, 0);
    EXPECT_EQ(Run({"ADD", "hkey_local_machine\\software\\quillon\\", "-V", "UseProxy", "/t",
                   "reg_dword", "/d", "0x1"})
                  .code,
              0);
    EXPECT_EQ(Run({"add", "HKLM\\Software\\Quillon", "/v", "EnableJS", "/t", "REG_DWORD", "/d",
                   "4294967295"})
                  .code,
              0);
    EXPECT_EQ(
        Run({"add", "HKCU\\Software\\Other", "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10"})
            .code,
        0);

    constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;
    EXPECT_EQ(RegistryString("Software\\Quillon\\ProxyName", "", false, kHklm, *m_store).Get(),
              "10.1.2.3:3128");
    EXPECT_EQ(RegistryDword("Software\\Quillon\\UseProxy", 0, false, kHklm, *m_store).Get(), 1u);
    EXPECT_EQ(RegistryDword("Software\\Quillon\\EnableJS", 0, false, kHklm, *m_store).Get(),
              0xffffffffu);
    auto blob = m_store->OpenKey(RegistryRoot::CurrentUser, "Software\\Other")->QueryValue("Blob");
    ASSERT_TRUE(blob);
    EXPECT_EQ(blob->type, kRegBinary);
    EXPECT_EQ(blob->bytes, "\x00\xff\x10"s);
    // Nothing leaked into the other root.
    EXPECT_FALSE(m_store->OpenKey(RegistryRoot::LocalMachine, "Software\\Other"));
}

TEST_F(RegTool, QueryPrintsWhatTheSettingsWroteInRegFormat) {
    constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;
    RegistryString("Software\\Quillon\\ProxyName", "", false, kHklm, *m_store).Set("h:8080");
    RegistryDword("Software\\Quillon\\BlockPopups", 0, false, kHklm, *m_store).Set(255);
    m_store->CreateKey(kHklm, "Software\\Quillon\\Sub");

    Outcome all = Run({"query", "HKLM\\Software\\Quillon"});
    EXPECT_EQ(all.code, 0);
    EXPECT_EQ(all.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Quillon\n"
              "    ProxyName    REG_SZ    h:8080\n"
              "    BlockPopups    REG_DWORD    0xff\n"
              "\nHKEY_LOCAL_MACHINE\\Software\\Quillon\\Sub\n");
    Outcome one = Run({"query", "HKEY_LOCAL_MACHINE\\Software\\Quillon", "/v", "proxyname"});
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(one.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Quillon\n    ProxyName    REG_SZ    h:8080\n\n");

    for (auto args : {std::vector<std::string>{"query", "HKLM\\Software\\Quillon", "/v", "Nope"},
                      std::vector<std::string>{"query", "HKLM\\Software\\Missing"}}) {
        Outcome missing = Run(args);
        EXPECT_EQ(missing.code, 1);
        EXPECT_EQ(missing.err,
                  "ERROR: The system was unable to find the specified registry key or value.\n");
    }
}

TEST_F(RegTool, OverwriteAndDeleteAskUnlessForced) {
    ASSERT_EQ(Run({"add", "HKLM\\Software\\Quillon", "/v", "AppPath", "/d", "/old/"}).code, 0);
    Outcome declined =
        Run({"add", "HKLM\\Software\\Quillon", "/v", "AppPath", "/d", "/new/"}, "no\n");
    EXPECT_EQ(declined.code, 1);
    EXPECT_NE(declined.out.find("Value AppPath exists, overwrite (Yes/No)?"), std::string::npos);
    Outcome noAnswer = Run({"delete", "HKLM\\Software\\Quillon", "/v", "AppPath"});
    EXPECT_EQ(noAnswer.code, 1);
    EXPECT_EQ(Run({"query", "HKLM\\Software\\Quillon", "/v", "AppPath"}).out.find("/old/") !=
                  std::string::npos,
              true);

    EXPECT_EQ(Run({"add", "HKLM\\Software\\Quillon", "/v", "AppPath", "/d", "/new/"}, "yes\n").code,
              0);
    EXPECT_EQ(Run({"add", "HKLM\\Software\\Quillon", "/v", "AppPath", "/d", "/newer/", "/f"}).code,
              0);
    EXPECT_NE(Run({"query", "HKLM\\Software\\Quillon"}).out.find("/newer/"), std::string::npos);

    Outcome deleted = Run({"delete", "HKLM\\Software\\Quillon", "/v", "AppPath", "/f"});
    EXPECT_EQ(deleted.code, 0);
    EXPECT_EQ(deleted.out, "The operation completed successfully.\n");
    EXPECT_EQ(Run({"delete", "HKLM\\Software\\Quillon", "/v", "AppPath", "/f"}).code, 1);
}

TEST_F(RegTool, MalformedArgumentsExplainAndWriteNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"add"},
        {"add", "HKXX\\Software\\Quillon", "/v", "A", "/d", "1"},
        {"add", "Software\\Quillon", "/v", "A", "/d", "1"},
        {"add", "HKLM\\Software\\\\Quillon", "/v", "A", "/d", "1"},
        {"add", "HKLM\\Software\\Quillon", "/d", "1"},
        {"add", "HKLM\\Software\\Quillon", "/v"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/v", "B"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/x", "1"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_QWORD", "/d", "1"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_DWORD", "/d", "0x"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_BINARY", "/d", "abc"},
        {"add", "HKLM\\Software\\Quillon", "/v", "A", "/t", "REG_BINARY", "/d", "zz"},
        {"query", "HKLM\\Software\\Quillon", "/d", "1"},
        {"delete", "HKLM\\Software\\Quillon"},
        {"rename", "HKLM\\Software\\Quillon", "/v", "A"},
    };
    for (const auto& args : bad) {
        Outcome o = Run(args);
        EXPECT_EQ(o.code, 1) << testing::PrintToString(args);
        EXPECT_TRUE(o.err.starts_with("ERROR: ")) << testing::PrintToString(args) << o.err;
    }
    EXPECT_FALSE(fs::exists(m_dir / "settings.db"));
}

// The installed program, as an installer runs it: XDG_CONFIG_HOME picks the store.
TEST_F(RegTool, CommandLineProgramUsesTheUsersStore) {
    const std::string config = (m_dir / "config").string();
    const std::string command = "XDG_CONFIG_HOME='" + config + "' " QUILLON_REG +
                                " add 'HKLM\\Software\\Quillon' /v AppFullPath /d /opt/q/quillon"
                                " >/dev/null && XDG_CONFIG_HOME='" +
                                config + "' " QUILLON_REG " query 'HKLM\\Software\\Quillon'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Quillon\n"
              "    AppFullPath    REG_SZ    /opt/q/quillon\n\n");
    SqliteRegistryStore store(fs::path(config) / "quillon" / "settings.db");
    EXPECT_EQ(RegistryString("Software\\Quillon\\AppFullPath", "", false,
                             RegistryRoot::LocalMachine, store)
                  .Get(),
              "/opt/q/quillon");
}

}  // namespace
