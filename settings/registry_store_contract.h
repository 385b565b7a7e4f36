// The behaviour every IRegistryStore must show, run against each store.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "registry_store.h"

// A name written directly under the root, which a store under test must clean
// up after itself where the store outlives the test.
inline constexpr const char* kRootLevelValueName = "QuillonContractRootValue";

class StoreUnderTest {
public:
    virtual ~StoreUnderTest() = default;
    virtual IRegistryStore& Store() = 0;
    // A key, free of values, that the tests may fill (no leading backslash).
    virtual std::string BaseKey() = 0;
};

struct ContractStore {
    std::string name;
    std::function<std::unique_ptr<StoreUnderTest>()> make;
};

class RegistryStoreContract : public testing::TestWithParam<ContractStore> {
protected:
    void SetUp() override { m_under = GetParam().make(); }
    void TearDown() override { m_under.reset(); }

    IRegistryStore& Store() { return m_under->Store(); }
    std::string Key(const std::string& sub = "") {
        return sub.empty() ? m_under->BaseKey() : m_under->BaseKey() + "\\" + sub;
    }

private:
    std::unique_ptr<StoreUnderTest> m_under;
};

inline std::string ContractStoreName(const testing::TestParamInfo<ContractStore>& info) {
    return info.param.name;
}
