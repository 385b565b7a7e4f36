#include "registry_store_contract.h"

#include <cstdint>
#include <string>

#include "fake_registry_store.h"
#include "registry_dword.h"
#include "registry_string.h"

namespace {

using namespace std::string_literals;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;
constexpr RegistryRoot kHkcu = RegistryRoot::CurrentUser;

std::optional<RegistryData> Query(IRegistryStore& store, RegistryRoot root, const std::string& key,
                                  const std::string& name) {
    auto k = store.OpenKey(root, key);
    if (!k) {
        return std::nullopt;
    }
    return k->QueryValue(name);
}

bool Put(IRegistryStore& store, RegistryRoot root, const std::string& key, const std::string& name,
         std::uint32_t type, const std::string& bytes) {
    auto k = store.CreateKey(root, key);
    return k && k->SetValue(name, type, bytes);
}

TEST_P(RegistryStoreContract, KeysExistOnlyOnceCreatedAndCreatingMakesParents) {
    EXPECT_EQ(Store().OpenKey(kHkcu, Key("A")), nullptr);
    ASSERT_NE(Store().CreateKey(kHkcu, Key("A\\B\\C")), nullptr);
    EXPECT_NE(Store().OpenKey(kHkcu, Key("A")), nullptr);
    EXPECT_NE(Store().OpenKey(kHkcu, Key("a\\b\\c")), nullptr);
    auto key = Store().OpenKey(kHkcu, Key("A\\B\\C"));
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->QueryValue("Missing").has_value());
}

TEST_P(RegistryStoreContract, KeepsTypeAndExactBytes) {
    const std::string binary("\x01\x00\xFF\x00\x7F"s);
    ASSERT_TRUE(Put(Store(), kHkcu, Key(), "Dword", kRegDword, "\x2A\x00\x00\x00"s));
    ASSERT_TRUE(Put(Store(), kHkcu, Key(), "Text", kRegSz, "abc\0"s));
    ASSERT_TRUE(Put(Store(), kHkcu, Key(), "Binary", kRegBinary, binary));
    ASSERT_TRUE(Put(Store(), kHkcu, Key(), "Empty", kRegBinary, ""));

    auto dword = Query(Store(), kHkcu, Key(), "Dword");
    ASSERT_TRUE(dword.has_value());
    EXPECT_EQ(dword->type, kRegDword);
    EXPECT_EQ(dword->bytes, "\x2A\x00\x00\x00"s);
    auto text = Query(Store(), kHkcu, Key(), "Text");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->type, kRegSz);
    EXPECT_EQ(text->bytes, "abc\0"s);
    auto bin = Query(Store(), kHkcu, Key(), "Binary");
    ASSERT_TRUE(bin.has_value());
    EXPECT_EQ(bin->type, kRegBinary);
    EXPECT_EQ(bin->bytes, binary);
    // Present but empty is not absent.
    auto empty = Query(Store(), kHkcu, Key(), "Empty");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->bytes, "");

    // Overwriting replaces type and data.
    ASSERT_TRUE(Put(Store(), kHkcu, Key(), "dword", kRegSz, "x\0"s));
    auto replaced = Query(Store(), kHkcu, Key(), "DWORD");
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(replaced->type, kRegSz);
    EXPECT_EQ(replaced->bytes, "x\0"s);
}

TEST_P(RegistryStoreContract, RootsAndKeysAreSeparate) {
    ASSERT_TRUE(Put(Store(), kHkcu, Key("One"), "V", kRegSz, "user\0"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key("One"), "V", kRegSz, "machine\0"s));
    ASSERT_TRUE(Put(Store(), kHkcu, Key("Two"), "V", kRegSz, "two\0"s));
    EXPECT_EQ(Query(Store(), kHkcu, Key("One"), "V")->bytes, "user\0"s);
    EXPECT_EQ(Query(Store(), kHklm, Key("One"), "V")->bytes, "machine\0"s);
    EXPECT_EQ(Query(Store(), kHkcu, Key("Two"), "V")->bytes, "two\0"s);
    // A value belongs to its key only, not to the parent.
    EXPECT_FALSE(Query(Store(), kHkcu, Key(), "V").has_value());
}

// The value objects' edge cases, on each real store.

TEST_P(RegistryStoreContract, AbsentNumberGivesDefaultAndAssigningTheDefaultWritesNothing) {
    const std::string path = Key() + "\\ClearCookies";
    RegistryDword value(path, 1, false, kHklm, Store());
    EXPECT_EQ(value.Get(), 1u);
    EXPECT_FALSE(value.IsLoaded());
    value.Set(1);
    EXPECT_FALSE(value.IsLoaded());
    EXPECT_FALSE(Query(Store(), kHklm, Key(), "ClearCookies").has_value());

    value.Set(0);
    EXPECT_EQ(value.Get(), 0u);
    auto stored = Query(Store(), kHklm, Key(), "ClearCookies");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, kRegDword);
    EXPECT_EQ(stored->bytes, "\0\0\0\0"s);
    RegistryDword reread(path, 1, false, kHklm, Store());
    EXPECT_TRUE(reread.IsLoaded());
    EXPECT_EQ(reread.Get(), 0u);
}

TEST_P(RegistryStoreContract, NumberWritesLittleEndianDword) {
    RegistryDword value(Key() + "\\N", 0, false, kHklm, Store());
    value.Set(0x01020304u);
    auto stored = Query(Store(), kHklm, Key(), "N");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, kRegDword);
    EXPECT_EQ(stored->bytes, "\x04\x03\x02\x01"s);
}

TEST_P(RegistryStoreContract, NumberSizeRules) {
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Four", kRegBinary, "\x78\x56\x34\x12"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Eight", kRegBinary, "\x01\0\0\0\0\0\0\0"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Text", kRegSz, "7\0"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Empty", kRegBinary, ""));

    RegistryDword four(Key() + "\\Four", 9, false, kHklm, Store());
    EXPECT_EQ(four.Get(), 0x12345678u);
    RegistryDword eight(Key() + "\\Eight", 9, false, kHklm, Store());
    EXPECT_EQ(eight.Get(), 9u);
    EXPECT_FALSE(eight.IsLoaded());
    // The type is not examined: "7" and its zero are two little-endian bytes.
    RegistryDword text(Key() + "\\Text", 9, false, kHklm, Store());
    EXPECT_EQ(text.Get(), 0x37u);
    RegistryDword empty(Key() + "\\Empty", 9, false, kHklm, Store());
    EXPECT_EQ(empty.Get(), 0u);
    EXPECT_TRUE(empty.IsLoaded());
}

TEST_P(RegistryStoreContract, ShortNumberIsNotMixedWithThePreviousValue) {
    const std::string path = Key() + "\\Short";
    RegistryDword value(path, 0, true, kHklm, Store());  // forced: every Get reads
    value.Set(0xAABBCCDDu);
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Short", kRegBinary, "\x01\x02"s));
    EXPECT_EQ(value.Get(), 0x0201u);
}

TEST_P(RegistryStoreContract, StringReadsUpToItsFirstZero) {
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Six", kRegSz, "abcdef\0"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Inner", kRegSz, "ab\0cd\0"s));
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "Bare", kRegBinary, "xyz"));
    RegistryString six(Key() + "\\Six", "def", false, kHklm, Store());
    EXPECT_EQ(six.Get(), "abcdef");
    RegistryString inner(Key() + "\\Inner", "def", false, kHklm, Store());
    EXPECT_EQ(inner.Get(), "ab");
    RegistryString bare(Key() + "\\Bare", "def", false, kHklm, Store());
    EXPECT_EQ(bare.Get(), "xyz");
    RegistryString absent(Key() + "\\Absent", "def", false, kHklm, Store());
    EXPECT_EQ(absent.Get(), "def");
    EXPECT_FALSE(absent.IsLoaded());
}

TEST_P(RegistryStoreContract, StringWritesTerminatedTextOnlyWhenChanged) {
    const std::string path = Key() + "\\ProxyName";
    RegistryString value(path, "", false, kHklm, Store());
    value.Set("");
    EXPECT_FALSE(Query(Store(), kHklm, Key(), "ProxyName").has_value());
    value.Set("127.0.0.1:3128");
    auto stored = Query(Store(), kHklm, Key(), "ProxyName");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, kRegSz);
    EXPECT_EQ(stored->bytes, "127.0.0.1:3128\0"s);
    // Comparison is case-sensitive: a change of case is a change.
    value.Set("127.0.0.1:3128");
    value.Set("Host:1");
    value.Set("host:1");
    RegistryString reread(path, "", false, kHklm, Store());
    EXPECT_EQ(reread.Get(), "host:1");
}

TEST_P(RegistryStoreContract, PathSplitReachesTheRightValue) {
    // \A\B\\C: key A\B, value C; names match without regard to case.
    RegistryDword value("\\" + Key() + "\\A\\B\\\\C", 0, false, kHklm, Store());
    value.Set(5);
    EXPECT_EQ(Query(Store(), kHklm, Key("a\\b"), "c")->bytes, "\x05\0\0\0"s);
    RegistryDword other(Key() + "\\a\\B\\c", 0, false, kHklm, Store());
    EXPECT_EQ(other.Get(), 5u);

    // No backslash: a value directly under the root.
    RegistryString root(kRootLevelValueName, "", false, kHkcu, Store());
    root.Set("top");
    EXPECT_EQ(Query(Store(), kHkcu, "", kRootLevelValueName)->bytes, "top\0"s);
}

TEST_P(RegistryStoreContract, LoadedValueIgnoresLaterOutsideChangesUnlessForced) {
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "V", kRegDword, "\x01\0\0\0"s));
    RegistryDword cached(Key() + "\\V", 0, false, kHklm, Store());
    RegistryDword forced(Key() + "\\V", 0, true, kHklm, Store());
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "V", kRegDword, "\x02\0\0\0"s));
    EXPECT_EQ(cached.Get(), 1u);
    EXPECT_EQ(forced.Get(), 2u);
    // The cache thinks 1 is stored, so assigning 1 writes nothing...
    cached.Set(1);
    EXPECT_EQ(Query(Store(), kHklm, Key(), "V")->bytes, "\x02\0\0\0"s);
    // ...while a forced object writes even an unchanged value.
    ASSERT_TRUE(Put(Store(), kHklm, Key(), "V", kRegDword, "\x03\0\0\0"s));
    forced.Set(2);
    EXPECT_EQ(Query(Store(), kHklm, Key(), "V")->bytes, "\x02\0\0\0"s);
}

class FakeUnderTest final : public StoreUnderTest {
public:
    IRegistryStore& Store() override { return m_store; }
    std::string BaseKey() override { return "Software\\Quillon"; }

private:
    FakeRegistryStore m_store;
};

INSTANTIATE_TEST_SUITE_P(Fake, RegistryStoreContract,
                         testing::Values(ContractStore{
                             "Fake", [] { return std::make_unique<FakeUnderTest>(); }}),
                         ContractStoreName);

}  // namespace
