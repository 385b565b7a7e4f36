// The start routine's order: autostart first, then the hand-over of a second
// copy (which reads and runs nothing), then the first copy's window with the
// folder copied from AppPath.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_registry_store.h"
#include "shell_app.h"

namespace {

using Log = std::vector<std::string>;

class RecordingAutostart final : public IAutostartEntry {
public:
    explicit RecordingAutostart(Log& log) : m_log(log) {}
    void Update(std::string_view command) override {
        m_log.push_back("autostart " + std::string(command));
    }

private:
    Log& m_log;
};

class RecordingInstance final : public ISingleInstance {
public:
    explicit RecordingInstance(Log& log) : m_log(log) {}
    bool Claim() override {
        m_log.push_back("claim");
        return first;
    }
    void HandOver() override { m_log.push_back("hand over"); }
    bool first = true;

private:
    Log& m_log;
};

class ShellAppTest : public testing::Test {
protected:
    ShellAppTest() {
        AppFullPath(m_store).Set("/opt/quillon/quillon");
        RegistryString("Software\\Quillon\\AppPath", "", false, RegistryRoot::LocalMachine, m_store)
            .Set("/var/lib/quillon/");
    }
    int Run() {
        SettingsCatalogue settings(m_store);
        return RunShellApp({m_store, m_autostart, m_instance, settings},
                           [&](const std::string& appPath) { m_log.push_back("run " + appPath); });
    }

    FakeRegistryStore m_store;
    Log m_log;
    RecordingAutostart m_autostart{m_log};
    RecordingInstance m_instance{m_log};
};

TEST_F(ShellAppTest, FirstCopyRunsTheWindowWithTheFolderAfterTheAutostartStep) {
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_log, (Log{"autostart /opt/quillon/quillon", "claim", "run /var/lib/quillon/"}));
}

TEST_F(ShellAppTest, SecondCopyUpdatesAutostartThenHandsOverWithoutAWindow) {
    m_instance.first = false;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_log, (Log{"autostart /opt/quillon/quillon", "claim", "hand over"}));
}

}  // namespace
