#include "privacy_page.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_registry_store.h"

namespace {

constexpr const char* kKey = "Software\\Quillon";

class FakeView final : public IPrivacyPageView {
public:
    std::map<int, bool> checks;
    std::map<int, std::string> texts;
    std::vector<std::string> opened;

    void SetCheck(int control, bool checked) override { checks[control] = checked; }
    bool GetCheck(int control) override { return checks[control]; }
    void SetText(int control, std::string_view text) override { texts[control] = text; }
    void OpenFile(std::string_view file) override { opened.emplace_back(file); }
};

std::uint32_t Stored(FakeRegistryStore& store, const char* name) {
    auto value = store.Peek(RegistryRoot::LocalMachine, kKey, name);
    if (!value || value->bytes.size() != 4) {
        return 0xDEAD;
    }
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(value->bytes[static_cast<std::size_t>(i)]);
    }
    return v;
}

void Put(FakeRegistryStore& store, const char* name, std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    store.CreateKey(RegistryRoot::LocalMachine, kKey)->SetValue(name, kRegDword, bytes);
}

// Records, at the moment of the restart, which settings were already written.
class FakeHost final : public IPrivacyPageHost {
public:
    explicit FakeHost(FakeRegistryStore& store) : m_store(store) {}
    std::vector<std::vector<std::uint32_t>> restarts;
    std::vector<std::uint32_t> seenAtRestart;
    std::vector<std::uint32_t> seenWhenSaved;  // the filter switches, when told

    void FilterSwitchesSaved() override {
        seenWhenSaved = {Stored(m_store, "EnableJS"), Stored(m_store, "EnableActiveX"),
                         Stored(m_store, "BlockPopups")};
    }

    void RestartCleaningWorker(std::uint32_t tmp, std::uint32_t cookies, std::uint32_t typed,
                               std::uint32_t history) override {
        restarts.push_back({tmp, cookies, typed, history});
        seenAtRestart = {Stored(m_store, "EnableJS"), Stored(m_store, "EnableActiveX"),
                         Stored(m_store, "BlockPopups"), Stored(m_store, "ClearTmpFiles")};
    }

private:
    FakeRegistryStore& m_store;
};

struct Settings {
    explicit Settings(IRegistryStore& store)
        : blockPopups("Software\\Quillon\\BlockPopups", 0, false, RegistryRoot::LocalMachine,
                      store),
          enableJS("Software\\Quillon\\EnableJS", 0, false, RegistryRoot::LocalMachine, store),
          enableActiveX("Software\\Quillon\\EnableActiveX", 0, false, RegistryRoot::LocalMachine,
                        store),
          clearTmpFiles("Software\\Quillon\\ClearTmpFiles", 1, false, RegistryRoot::LocalMachine,
                        store),
          clearCookies("Software\\Quillon\\ClearCookies", 1, false, RegistryRoot::LocalMachine,
                       store),
          deleteAddresses("Software\\Quillon\\DeleteAddresses", 1, false,
                          RegistryRoot::LocalMachine, store),
          deleteHistory("Software\\Quillon\\DeleteHistory", 1, false, RegistryRoot::LocalMachine,
                        store),
          store(store) {}
    PrivacySettings Bind() {
        return PrivacySettings{blockPopups,  enableJS,        enableActiveX, clearTmpFiles,
                               clearCookies, deleteAddresses, deleteHistory, store};
    }
    RegistryDword blockPopups, enableJS, enableActiveX, clearTmpFiles, clearCookies,
        deleteAddresses, deleteHistory;
    IRegistryStore& store;
};

TEST(PrivacyPageTest, ShowsTheStoredSwitchesAndTheCountReadAtInitialisation) {
    FakeRegistryStore store;
    Put(store, "BlockPopups", 1);
    Put(store, "ClearCookies", 0);
    Put(store, "EnableActiveX", 1);
    Put(store, "NrOfBlockPopups", 12);
    Settings settings(store);
    FakeHost host(store);
    CPrivacyPage page(settings.Bind(), host);
    EXPECT_EQ(page.CountText(), "12");

    Put(store, "NrOfBlockPopups", 0xFFFFFFFF);
    FakeView view;
    EXPECT_TRUE(page.OnInitDialog(view));
    EXPECT_EQ(view.texts[kPrivacyPopupCount], "-1");  // "%d" of the stored number
    EXPECT_EQ(view.checks, (std::map<int, bool>{{kPrivacyBlockPopups, true},
                                                {kPrivacyClearTmpFiles, true},
                                                {kPrivacyClearCookies, false},
                                                {kPrivacyDeleteAddresses, true},
                                                {kPrivacyDeleteHistory, true},
                                                {kPrivacyEnableJS, false},
                                                {kPrivacyEnableActiveX, true}}));

    // Saving does not refresh the count.
    Put(store, "NrOfBlockPopups", 5);
    page.OnSaveSettings(view);
    EXPECT_EQ(view.texts[kPrivacyPopupCount], "-1");
}

TEST(PrivacyPageTest, SaveWritesFilterSwitchesThenRestartsThenWritesCleaningOptions) {
    FakeRegistryStore store;
    Settings settings(store);
    FakeHost host(store);
    CPrivacyPage page(settings.Bind(), host);
    FakeView view;
    page.OnInitDialog(view);
    view.checks = {{kPrivacyBlockPopups, true},    {kPrivacyEnableJS, true},
                   {kPrivacyEnableActiveX, false}, {kPrivacyClearTmpFiles, false},
                   {kPrivacyClearCookies, true},   {kPrivacyDeleteAddresses, false},
                   {kPrivacyDeleteHistory, true}};

    page.OnSaveSettings(view);

    ASSERT_EQ(host.restarts.size(), 1u);
    EXPECT_EQ(host.restarts[0], (std::vector<std::uint32_t>{0, 1, 0, 1}));
    // EnableActiveX kept its stored 0, so it was not written at all.
    EXPECT_EQ(host.seenAtRestart, (std::vector<std::uint32_t>{1, 0xDEAD, 1, 0xDEAD}));
    // The connections are told once the three switches are written.
    EXPECT_EQ(host.seenWhenSaved, (std::vector<std::uint32_t>{1, 0xDEAD, 1}));
    EXPECT_EQ(Stored(store, "ClearTmpFiles"), 0u);
    EXPECT_EQ(Stored(store, "DeleteAddresses"), 0u);
    EXPECT_EQ(Stored(store, "ClearCookies"), 0xDEADu);  // unchanged default 1, not written
    EXPECT_EQ(settings.clearCookies.Get(), 1u);
    EXPECT_EQ(settings.deleteHistory.Get(), 1u);

    // Unchecking everything leaves a worker that only sleeps.
    for (auto& [control, checked] : view.checks) {
        checked = false;
    }
    page.OnSaveSettings(view);
    EXPECT_EQ(host.restarts.back(), (std::vector<std::uint32_t>{0, 0, 0, 0}));
    EXPECT_EQ(settings.enableJS.Get(), 0u);
}

TEST(PrivacyPageTest, HelpOpensTheHelpFile) {
    FakeRegistryStore store;
    Settings settings(store);
    FakeHost host(store);
    CPrivacyPage page(settings.Bind(), host);
    FakeView view;
    page.OnHelp(view);
    EXPECT_EQ(view.opened, std::vector<std::string>{"index.htm"});
    EXPECT_TRUE(host.restarts.empty());
}

}  // namespace
