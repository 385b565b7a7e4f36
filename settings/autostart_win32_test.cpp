// The Run list's value follows AppFullPath and is written only when it must.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "autostart.h"
#include "fake_registry_store.h"
#include "registry_store_win32.h"

namespace {

using namespace std::string_literals;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void SetAppFullPath(IRegistryStore& store, const std::string& path) {
    store.CreateKey(kHklm, "Software\\Quillon")->SetValue("AppFullPath", kRegSz, path + '\0');
}

void Start(IRegistryStore& store) {
    RunAutostartStep(store, *SystemAutostartEntry(store));
}

TEST(Autostart, RunValueFollowsAppFullPathAndIsWrittenOnlyOnChange) {
    FakeRegistryStore store;
    Start(store);  // nothing installed, no Run value: nothing written
    EXPECT_EQ(store.Writes(), 0);
    EXPECT_FALSE(store.Peek(kHklm, kRunKey, "Quillon"));

    SetAppFullPath(store, "C:\\Program Files\\Quillon\\quillon.exe");
    const int installed = store.Writes();
    Start(store);
    EXPECT_EQ(store.Writes(), installed + 1);
    EXPECT_EQ(store.Peek(kHklm, kRunKey, "Quillon")->bytes,
              "C:\\Program Files\\Quillon\\quillon.exe\0"s);
    Start(store);  // agrees already
    EXPECT_EQ(store.Writes(), installed + 1);

    SetAppFullPath(store, "D:\\Quillon\\quillon.exe");
    Start(store);
    EXPECT_EQ(store.Peek(kHklm, kRunKey, "Quillon")->bytes, "D:\\Quillon\\quillon.exe\0"s);
}

TEST(Autostart, RefusedRunKeyStaysUnchanged) {
    FakeRegistryStore store;
    SetAppFullPath(store, "C:\\Quillon\\quillon.exe");
    store.RefuseWrites(true);
    Start(store);
    EXPECT_FALSE(store.Peek(kHklm, kRunKey, "Quillon"));
}

TEST(Autostart, RealRegistryGetsTheRunValue) {
    Win32RegistryStore store;
    SetAppFullPath(store, "C:\\Quillon Test\\quillon.exe");
    Start(store);
    char text[MAX_PATH] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    HKEY run = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &run),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegQueryValueExA(run, "Quillon", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(text, "C:\\Quillon Test\\quillon.exe");
    RegDeleteValueA(run, "Quillon");
    RegCloseKey(run);
    HKEY settings = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quillon", 0, KEY_SET_VALUE, &settings) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(settings, "AppFullPath");
        RegCloseKey(settings);
    }
}

}  // namespace
