#include "registry_typed_addresses.h"

#include <string>

#include "registry_string.h"

void RegistryTypedAddresses::Blank() {
    for (int n = 1; n <= kTypedAddressCount; ++n) {
        std::string path =
            "Software\\Microsoft\\Internet Explorer\\TypedURLs\\url" + std::to_string(n);
        RegistryString address(path, "", false, RegistryRoot::CurrentUser, m_store);
        if (!address.Get().empty()) {
            address.Set("");
        }
    }
}
