// A 32-bit number bound to one registry value: read once, cached, written
// through when an assignment changes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "process_registry_store.h"
#include "registry_store.h"

class RegistryDword {
public:
    RegistryDword(std::string_view path, std::uint32_t defaultValue, bool force, RegistryRoot root,
                  IRegistryStore& store);
    // The process-wide settings use the process's store.
    RegistryDword(std::string_view path, std::uint32_t defaultValue, bool force, RegistryRoot root)
        : RegistryDword(path, defaultValue, force, root, ProcessRegistryStore()) {}

    RegistryDword(const RegistryDword&) = delete;
    RegistryDword& operator=(const RegistryDword&) = delete;

    // Safe to call from connection threads while the interface thread calls
    // Set: once loaded it is one atomic load.
    std::uint32_t Get();
    RegistryDword& Set(std::uint32_t value);

    bool IsLoaded() const { return m_loaded.load(std::memory_order_acquire) != 0; }
    const std::string& KeyPath() const { return m_keyPath; }
    const std::string& ValueName() const { return m_valueName; }

private:
    std::uint32_t Read();
    void Write();

    IRegistryStore& m_store;
    RegistryRoot m_root;
    std::string m_valueName;
    std::string m_keyPath;
    // 32-bit words so a reader on another thread sees the old or the new
    // value, never a mix.
    std::atomic<std::uint32_t> m_cached{0};
    std::uint32_t m_default;
    std::atomic<std::uint32_t> m_loaded{0};
    bool m_force;
};
