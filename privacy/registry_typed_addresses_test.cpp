#include "registry_typed_addresses.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_registry_store.h"

namespace {

constexpr const char* kTypedUrls = "Software\\Microsoft\\Internet Explorer\\TypedURLs";

void Store(IRegistryStore& store, const std::string& name, const std::string& text) {
    auto key = store.CreateKey(RegistryRoot::CurrentUser, kTypedUrls);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue(name, kRegSz, text + '\0'));
}

TEST(RegistryTypedAddressesTest, EmptiesStoredAddressesOnlyUpToUrl25) {
    FakeRegistryStore store;
    Store(store, "url3", "http://three.example/");
    Store(store, "url25", "http://last.example/");
    Store(store, "url26", "http://beyond.example/");
    Store(store, "url7", "");
    Store(store, "other", "http://other.example/");
    int writesBefore = store.Writes();

    RegistryTypedAddresses(store).Blank();

    // Emptied, not deleted: REG_SZ holding only its terminating zero.
    for (const char* name : {"url3", "url25"}) {
        auto value = store.Peek(RegistryRoot::CurrentUser, kTypedUrls, name);
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(value->type, kRegSz);
        EXPECT_EQ(value->bytes, std::string(1, '\0'));
    }
    EXPECT_EQ(store.Writes() - writesBefore, 2);  // url7 was empty already
    EXPECT_EQ(store.Peek(RegistryRoot::CurrentUser, kTypedUrls, "url26")->bytes,
              std::string("http://beyond.example/") + '\0');
    EXPECT_EQ(store.Peek(RegistryRoot::CurrentUser, kTypedUrls, "other")->bytes,
              std::string("http://other.example/") + '\0');
    // Absent values are not created.
    EXPECT_FALSE(store.Peek(RegistryRoot::CurrentUser, kTypedUrls, "url1"));
}

TEST(RegistryTypedAddressesTest, NoTypedAddressesMeansNoWrites) {
    FakeRegistryStore store;
    RegistryTypedAddresses(store).Blank();
    EXPECT_EQ(store.Writes(), 0);
    EXPECT_EQ(store.Creates(), 0);
}

}  // namespace
