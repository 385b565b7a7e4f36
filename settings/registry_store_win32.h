// The real registry.
#pragma once

#include "registry_store.h"

class Win32RegistryStore final : public IRegistryStore {
public:
    std::unique_ptr<IRegistryKey> OpenKey(RegistryRoot root, std::string_view path) override;
    std::unique_ptr<IRegistryKey> CreateKey(RegistryRoot root, std::string_view path) override;
};
