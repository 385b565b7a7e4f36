#include "registry_dword.h"

#include "dword_bytes.h"
#include "registry_path.h"

RegistryDword::RegistryDword(std::string_view path, std::uint32_t defaultValue, bool force,
                             RegistryRoot root, IRegistryStore& store)
    : m_store(store), m_root(root), m_default(defaultValue), m_force(force) {
    RegistryPath split = SplitRegistryPath(path);
    m_keyPath = std::move(split.keyPath);
    m_valueName = std::move(split.valueName);
    Read();
}

std::uint32_t RegistryDword::Get() {
    if (!m_force && m_loaded.load(std::memory_order_acquire) != 0) {
        return m_cached.load(std::memory_order_relaxed);
    }
    return Read();
}

RegistryDword& RegistryDword::Set(std::uint32_t value) {
    if (!m_force) {
        std::uint32_t current = m_loaded.load(std::memory_order_acquire) != 0
                                    ? m_cached.load(std::memory_order_relaxed)
                                    : Read();
        if (current == value) {
            return *this;
        }
    }
    m_cached.store(value, std::memory_order_release);
    Write();
    return *this;
}

std::uint32_t RegistryDword::Read() {
    auto key = m_store.OpenKey(m_root, m_keyPath);
    if (!key) {
        return m_default;
    }
    auto data = key->QueryValue(m_valueName);
    // Longer data does not fit the 4-byte buffer the registry is asked with.
    if (!data || data->bytes.size() > 4) {
        return m_default;
    }
    // Shorter data is zero-extended: bytes the value does not have must not
    // be taken from whatever was cached before.
    const std::uint32_t value = DwordFromBytes(data->bytes);
    m_cached.store(value, std::memory_order_relaxed);
    m_loaded.store(1, std::memory_order_release);
    return value;
}

void RegistryDword::Write() {
    auto key = m_store.CreateKey(m_root, m_keyPath);
    if (!key) {
        return;
    }
    if (key->SetValue(m_valueName, kRegDword,
                      DwordBytes(m_cached.load(std::memory_order_relaxed)))) {
        m_loaded.store(1, std::memory_order_release);
    }
}
