#include "registry_string.h"

#include "registry_path.h"

namespace {

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

RegistryString::RegistryString(std::string_view path, std::string_view defaultValue, bool force,
                               RegistryRoot root, IRegistryStore& store)
    : m_store(store), m_root(root), m_default(UpToZero(defaultValue)), m_force(force) {
    RegistryPath split = SplitRegistryPath(path);
    m_keyPath = std::move(split.keyPath);
    m_valueName = std::move(split.valueName);
    Read();
}

std::string RegistryString::Get() {
    if (!m_force && m_loaded) {
        return m_cached;
    }
    return Read();
}

RegistryString& RegistryString::Set(std::string_view value) {
    value = UpToZero(value);
    if (!m_force) {
        std::string current = m_loaded ? m_cached : Read();
        if (current == value) {
            return *this;
        }
    }
    m_cached.assign(value);
    Write();
    return *this;
}

std::string RegistryString::Read() {
    auto key = m_store.OpenKey(m_root, m_keyPath);
    if (!key) {
        return m_default;
    }
    auto data = key->QueryValue(m_valueName);
    if (!data) {
        return m_default;
    }
    // Stored strings need not carry their terminating zero.
    m_cached.assign(UpToZero(data->bytes));
    m_loaded = true;
    return m_cached;
}

void RegistryString::Write() {
    auto key = m_store.CreateKey(m_root, m_keyPath);
    if (!key) {
        return;
    }
    std::string bytes = m_cached;
    bytes.push_back('\0');
    if (key->SetValue(m_valueName, kRegSz, bytes)) {
        m_loaded = true;
    }
}
