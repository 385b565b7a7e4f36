// The address bar's typed addresses kept as registry values url1 ... url25
// under HKEY_CURRENT_USER (Windows). Blanking empties the values that hold
// text; it never deletes or creates one.
#pragma once

#include "registry_store.h"
#include "url_cache.h"

inline constexpr int kTypedAddressCount = 25;

class RegistryTypedAddresses final : public ITypedAddresses {
public:
    explicit RegistryTypedAddresses(IRegistryStore& store) : m_store(store) {}
    void Blank() override;

private:
    IRegistryStore& m_store;
};
