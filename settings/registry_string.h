// A text bound to one registry value: read once, cached, written through when
// an assignment changes it. Used by one thread only.
#pragma once

#include <string>
#include <string_view>

#include "process_registry_store.h"
#include "registry_store.h"

class RegistryString {
public:
    RegistryString(std::string_view path, std::string_view defaultValue, bool force,
                   RegistryRoot root, IRegistryStore& store);
    RegistryString(std::string_view path, std::string_view defaultValue, bool force,
                   RegistryRoot root)
        : RegistryString(path, defaultValue, force, root, ProcessRegistryStore()) {}

    RegistryString(const RegistryString&) = delete;
    RegistryString& operator=(const RegistryString&) = delete;

    std::string Get();
    // The text ends at its first zero byte, as it will once stored.
    RegistryString& Set(std::string_view value);

    bool IsLoaded() const { return m_loaded; }
    const std::string& KeyPath() const { return m_keyPath; }
    const std::string& ValueName() const { return m_valueName; }

private:
    std::string Read();
    void Write();

    IRegistryStore& m_store;
    RegistryRoot m_root;
    std::string m_valueName;
    std::string m_keyPath;
    std::string m_cached;
    std::string m_default;
    bool m_loaded = false;
    bool m_force;
};
