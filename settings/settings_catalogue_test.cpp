// The catalogue reads each setting from its own value, in the catalogue's
// order, with the defaults a fresh installation must see.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_registry_store.h"
#include "settings_catalogue.h"

namespace {

using namespace std::string_literals;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;

// Notes which values are read, in order.
class ReadLog final : public IRegistryStore {
public:
    explicit ReadLog(IRegistryStore& inner) : m_inner(inner) {}
    std::unique_ptr<IRegistryKey> OpenKey(RegistryRoot root, std::string_view path) override {
        auto key = m_inner.OpenKey(root, path);
        return key ? std::make_unique<Key>(*this, std::move(key)) : nullptr;
    }
    std::unique_ptr<IRegistryKey> CreateKey(RegistryRoot root, std::string_view path) override {
        return m_inner.CreateKey(root, path);
    }
    std::vector<std::string> reads;

private:
    class Key final : public IRegistryKey {
    public:
        Key(ReadLog& log, std::unique_ptr<IRegistryKey> inner)
            : m_log(log), m_inner(std::move(inner)) {}
        std::optional<RegistryData> QueryValue(std::string_view name) override {
            m_log.reads.emplace_back(name);
            return m_inner->QueryValue(name);
        }
        bool SetValue(std::string_view name, std::uint32_t type, std::string_view bytes) override {
            return m_inner->SetValue(name, type, bytes);
        }

    private:
        ReadLog& m_log;
        std::unique_ptr<IRegistryKey> m_inner;
    };
    IRegistryStore& m_inner;
};

TEST(SettingsCatalogue, EmptyStoreGivesTheDefaults) {
    FakeRegistryStore store;
    SettingsCatalogue settings(store);
    EXPECT_EQ(settings.AppPath.Get(), "");
    EXPECT_EQ(settings.ProxyName.Get(), "");
    EXPECT_EQ(settings.UseProxy.Get(), 0u);
    for (RegistryDword* filter :
         {&settings.BlockPopups, &settings.EnableJS, &settings.EnableActiveX}) {
        EXPECT_EQ(filter->Get(), 0u) << filter->ValueName();
    }
    for (RegistryDword* cleaning : {&settings.ClearTmpFiles, &settings.ClearCookies,
                                    &settings.DeleteAddresses, &settings.DeleteHistory}) {
        EXPECT_EQ(cleaning->Get(), 1u) << cleaning->ValueName();
    }
    EXPECT_EQ(settings.Minimize.Get(), 0u);
    EXPECT_EQ(settings.RunFirst.Get(), 0u);
    EXPECT_EQ(settings.AutoSwitch.Get(), 1u);
    EXPECT_EQ(NrOfBlockPopups(store).Get(), 0u);
    EXPECT_EQ(TMPProxy(store).Get(), "");
    EXPECT_EQ(AppFullPath(store).Get(), "");
    // Reading never creates anything.
    EXPECT_EQ(store.Writes(), 0);
}

TEST(SettingsCatalogue, EachSettingReadsItsOwnValueInCatalogueOrder) {
    FakeRegistryStore fake;
    const std::vector<std::string> numbers = {"UseProxy",        "BlockPopups",    "EnableJS",
                                              "EnableActiveX",   "ClearTmpFiles",  "ClearCookies",
                                              "DeleteAddresses", "DeleteHistory",  "Minimize",
                                              "RunFirst",        "AutoSwitch",     "NrOfBlockPopups"};
    auto key = fake.CreateKey(kHklm, "SOFTWARE\\quillon");
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::string bytes = {static_cast<char>(10 + i), 0, 0, 0};
        key->SetValue(numbers[i], kRegDword, bytes);
    }
    key->SetValue("AppPath", kRegSz, "/opt/quillon/\0"s);
    key->SetValue("ProxyName", kRegSz, "10.0.0.1:3128\0"s);
    key->SetValue("TMPProxy", kRegSz, "10.0.0.2:80\0"s);
    key->SetValue("AppFullPath", kRegSz, "/opt/quillon/quillon\0"s);

    ReadLog log(fake);
    SettingsCatalogue settings(log);
    EXPECT_EQ(log.reads, (std::vector<std::string>{
                             "AppPath", "UseProxy", "ProxyName", "BlockPopups", "EnableJS",
                             "EnableActiveX", "ClearTmpFiles", "ClearCookies", "DeleteAddresses",
                             "DeleteHistory", "Minimize", "RunFirst", "AutoSwitch"}));
    RegistryDword* byNumber[] = {&settings.UseProxy,        &settings.BlockPopups,
                                 &settings.EnableJS,        &settings.EnableActiveX,
                                 &settings.ClearTmpFiles,   &settings.ClearCookies,
                                 &settings.DeleteAddresses, &settings.DeleteHistory,
                                 &settings.Minimize,        &settings.RunFirst,
                                 &settings.AutoSwitch};
    for (std::size_t i = 0; i < std::size(byNumber); ++i) {
        EXPECT_EQ(byNumber[i]->Get(), 10u + i) << numbers[i];
    }
    EXPECT_EQ(NrOfBlockPopups(fake).Get(), 21u);
    EXPECT_EQ(settings.AppPath.Get(), "/opt/quillon/");
    EXPECT_EQ(settings.ProxyName.Get(), "10.0.0.1:3128");
    EXPECT_EQ(TMPProxy(fake).Get(), "10.0.0.2:80");
    EXPECT_EQ(AppFullPath(fake).Get(), "/opt/quillon/quillon");
}

TEST(SettingsCatalogue, WritesLandAsDwordsInTheSettingsKey) {
    FakeRegistryStore store;
    {
        SettingsCatalogue settings(store);
        settings.EnableJS.Set(SwitchValue(true));
        settings.ProxyName.Set("h:8");
    }
    auto js = store.Peek(kHklm, "Software\\Quillon", "EnableJS");
    ASSERT_TRUE(js);
    EXPECT_EQ(js->type, kRegDword);
    EXPECT_EQ(js->bytes, "\x01\0\0\0"s);
    SettingsCatalogue again(store);
    EXPECT_EQ(again.EnableJS.Get(), 1u);
    EXPECT_EQ(again.ProxyName.Get(), "h:8");
}

}  // namespace
