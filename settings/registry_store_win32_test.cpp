// The contract on the real registry (under Wine in the test runs), inside a
// key of its own that is removed afterwards.
#include <windows.h>

#include <string>

#include "registry_store_contract.h"
#include "registry_store_win32.h"

namespace {

class RegistryUnderTest final : public StoreUnderTest {
public:
    RegistryUnderTest() {
        static int serial = 0;
        m_base = "Software\\QuillonTest\\" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++serial);
    }
    ~RegistryUnderTest() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeA(root, m_base.c_str());
            RegDeleteKeyA(root, m_base.c_str());
            RegDeleteKeyA(root, "Software\\QuillonTest");  // only once empty
        }
        HKEY user = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_SET_VALUE, &user) == ERROR_SUCCESS) {
            RegDeleteValueA(user, kRootLevelValueName);
            RegCloseKey(user);
        }
    }
    RegistryUnderTest(const RegistryUnderTest&) = delete;
    RegistryUnderTest& operator=(const RegistryUnderTest&) = delete;

    IRegistryStore& Store() override { return m_store; }
    std::string BaseKey() override { return m_base; }

private:
    Win32RegistryStore m_store;
    std::string m_base;
};

INSTANTIATE_TEST_SUITE_P(Registry, RegistryStoreContract,
                         testing::Values(ContractStore{
                             "Registry", [] { return std::make_unique<RegistryUnderTest>(); }}),
                         ContractStoreName);

}  // namespace
