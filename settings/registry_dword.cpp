#include "registry_dword.h"

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
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < data->bytes.size(); ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data->bytes[i])) << (8 * i);
    }
    m_cached.store(value, std::memory_order_relaxed);
    m_loaded.store(1, std::memory_order_release);
    return value;
}

void RegistryDword::Write() {
    auto key = m_store.CreateKey(m_root, m_keyPath);
    if (!key) {
        return;
    }
    std::uint32_t value = m_cached.load(std::memory_order_relaxed);
    char bytes[4];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    if (key->SetValue(m_valueName, kRegDword, std::string_view(bytes, sizeof bytes))) {
        m_loaded.store(1, std::memory_order_release);
    }
}
