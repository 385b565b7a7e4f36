// What the value objects do to the store, seen through the fake's counters.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "fake_registry_store.h"
#include "registry_dword.h"
#include "registry_string.h"

namespace {

using namespace std::string_literals;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;

void Store(FakeRegistryStore& store, const char* name, std::uint32_t type, std::string bytes) {
    store.CreateKey(kHklm, "Software\\Quillon")->SetValue(name, type, bytes);
}

TEST(RegistryValue, LoadedValueNeverTouchesTheStoreAgain) {
    FakeRegistryStore store;
    Store(store, "EnableJS", kRegDword, "\x01\0\0\0"s);
    Store(store, "ProxyName", kRegSz, "h:1\0"s);
    RegistryDword number("Software\\Quillon\\EnableJS", 0, false, kHklm, store);
    RegistryString text("Software\\Quillon\\ProxyName", "", false, kHklm, store);
    const int opens = store.Opens();
    const int creates = store.Creates();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(number.Get(), 1u);
        EXPECT_EQ(text.Get(), "h:1");
    }
    number.Set(1);
    text.Set("h:1");
    EXPECT_EQ(store.Opens(), opens);
    EXPECT_EQ(store.Creates(), creates);
}

TEST(RegistryValue, UnloadedValueReadsOnEveryGetAndOnceBeforeAWrite) {
    FakeRegistryStore store;
    RegistryDword number("Software\\Quillon\\BlockPopups", 0, false, kHklm, store);
    EXPECT_EQ(store.Opens(), 1);  // the read at construction
    number.Get();
    number.Get();
    EXPECT_EQ(store.Opens(), 3);
    number.Set(1);
    EXPECT_EQ(store.Opens(), 4);
    EXPECT_EQ(store.Writes(), 1);
    EXPECT_TRUE(number.IsLoaded());
}

TEST(RegistryValue, RefusedWriteKeepsTheValueInMemoryOnlyWhenLoaded) {
    FakeRegistryStore store;
    Store(store, "UseProxy", kRegDword, "\0\0\0\0"s);
    RegistryDword loaded("Software\\Quillon\\UseProxy", 0, false, kHklm, store);
    RegistryDword unloaded("Software\\Quillon\\Minimize", 0, false, kHklm, store);
    RegistryString text("Software\\Quillon\\TMPProxy", "", false, kHklm, store);
    const int writes = store.Writes();
    store.RefuseWrites(true);

    loaded.Set(1);
    unloaded.Set(1);
    text.Set("h:2");
    EXPECT_EQ(loaded.Get(), 1u);    // unsaved, held for the rest of the run
    EXPECT_EQ(unloaded.Get(), 0u);  // read again: still the default
    EXPECT_FALSE(unloaded.IsLoaded());
    EXPECT_EQ(text.Get(), "");
    EXPECT_EQ(store.Writes(), writes);
    EXPECT_EQ(store.Peek(kHklm, "Software\\Quillon", "UseProxy")->bytes, "\0\0\0\0"s);
    EXPECT_FALSE(store.Peek(kHklm, "Software\\Quillon", "Minimize").has_value());
}

TEST(RegistryValue, SetChainsAndStopsTextAtItsZero) {
    FakeRegistryStore store;
    RegistryString text("Software\\Quillon\\TMPProxy", "", false, kHklm, store);
    text.Set("a").Set("b\0hidden"s);
    EXPECT_EQ(text.Get(), "b");
    EXPECT_EQ(store.Peek(kHklm, "Software\\Quillon", "TMPProxy")->bytes, "b\0"s);
    // Same text up to the zero: nothing to write.
    const int writes = store.Writes();
    text.Set("b\0other"s);
    EXPECT_EQ(store.Writes(), writes);
}

TEST(RegistryValue, MissingStoreGivesDefaults) {
    FakeRegistryStore store;
    store.RefuseWrites(true);
    RegistryString text("Software\\Quillon\\AppPath", "fallback", false, kHklm, store);
    EXPECT_EQ(text.Get(), "fallback");
    RegistryDword number("Software\\Quillon\\ClearTmpFiles", 1, false, kHklm, store);
    EXPECT_EQ(number.Get(), 1u);
}

// Connection threads read the filter switches while the interface thread
// flips them; run under TSan this proves the accesses are atomic.
TEST(RegistryValue, SwitchReadByOtherThreadsSeesOnlyWholeValues) {
    FakeRegistryStore store;
    RegistryDword sw("Software\\Quillon\\EnableJS", 0, false, kHklm, store);
    sw.Set(0xFFFFFFFFu);
    std::atomic<bool> bad{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 200000 && !stop.load(); ++i) {
                std::uint32_t v = sw.Get();
                if (v != 0 && v != 0xFFFFFFFFu) {
                    bad = true;
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        sw.Set(i % 2 == 0 ? 0u : 0xFFFFFFFFu);
    }
    stop = true;
    for (auto& r : readers) {
        r.join();
    }
    EXPECT_FALSE(bad.load());
}

}  // namespace
