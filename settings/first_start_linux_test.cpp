#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "fake_registry_store.h"
#include "first_start_linux.h"
#include "settings_catalogue.h"

namespace {

namespace fs = std::filesystem;

class FirstStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = fs::temp_directory_path() / ("quillon-first-start-" + std::to_string(::getpid()));
        fs::remove_all(home);
    }
    void TearDown() override { fs::remove_all(home); }

    fs::path home;
    FakeRegistryStore store;
};

TEST_F(FirstStartTest, AbsentValuesNameTheDataFolderAndTheRunningProgram) {
    StorePerUserDefaults(store, home / "share", "/usr/bin/quillon");
    SettingsCatalogue settings(store);
    EXPECT_EQ(settings.AppPath.Get(), (home / "share" / "quillon").string() + "/");
    EXPECT_TRUE(fs::is_directory(home / "share" / "quillon"));
    EXPECT_EQ(AppFullPath(store).Get(), "/usr/bin/quillon");
    // The running test itself is a program with a path.
    EXPECT_TRUE(RunningExecutable().is_absolute());
}

TEST_F(FirstStartTest, PresentValuesStayEvenWhenEmpty) {
    // As an installer leaves them: an empty folder and another program.
    auto key = store.CreateKey(RegistryRoot::LocalMachine, "Software\\Quillon");
    key->SetValue("AppPath", kRegSz, std::string(1, '\0'));
    key->SetValue("AppFullPath", kRegSz, std::string("/opt/quillon/bin/quillon") + '\0');

    StorePerUserDefaults(store, home / "share", "/usr/bin/quillon");

    SettingsCatalogue after(store);
    EXPECT_EQ(after.AppPath.Get(), "");
    EXPECT_FALSE(fs::exists(home / "share"));
    EXPECT_EQ(AppFullPath(store).Get(), "/opt/quillon/bin/quillon");
}

}  // namespace
