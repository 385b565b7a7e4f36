// In-memory registry for tests: keys and values compare case-insensitively
// (ASCII), as the registry's do. Counts calls so tests can prove that a loaded
// value no longer touches the store, and can refuse writes like a HKLM that the
// user may not change.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "ascii_text.h"
#include "registry_store.h"

class FakeRegistryStore final : public IRegistryStore {
public:
    std::unique_ptr<IRegistryKey> OpenKey(RegistryRoot root, std::string_view path) override {
        ++m_opens;
        std::lock_guard lock(m_mutex);
        if (!path.empty() && !m_keys.contains({root, Fold(path)})) {
            return nullptr;
        }
        return std::make_unique<Key>(*this, root, Fold(path));
    }

    std::unique_ptr<IRegistryKey> CreateKey(RegistryRoot root, std::string_view path) override {
        ++m_creates;
        if (m_refuseWrites) {
            return nullptr;
        }
        std::lock_guard lock(m_mutex);
        std::string folded = Fold(path);
        // Parents come into being with the key, as in the registry.
        for (std::size_t i = 0; i <= folded.size(); ++i) {
            if (i == folded.size() || folded[i] == '\\') {
                if (i > 0) {
                    m_keys.insert({root, folded.substr(0, i)});
                }
            }
        }
        return std::make_unique<Key>(*this, root, std::move(folded));
    }

    // Test controls and probes.
    void RefuseWrites(bool refuse) { m_refuseWrites = refuse; }
    int Opens() const { return m_opens; }
    int Creates() const { return m_creates; }
    int Writes() const { return m_writes; }
    std::optional<RegistryData> Peek(RegistryRoot root, std::string_view path,
                                     std::string_view name) const {
        std::lock_guard lock(m_mutex);
        auto it = m_values.find({root, Fold(path), Fold(name)});
        if (it == m_values.end()) {
            return std::nullopt;
        }
        return it->second;
    }

private:
    using ValueId = std::tuple<RegistryRoot, std::string, std::string>;

    static std::string Fold(std::string_view s) {
        std::string out(s);
        for (char& c : out) {
            c = AsciiLower(c);
        }
        return out;
    }

    class Key final : public IRegistryKey {
    public:
        Key(FakeRegistryStore& store, RegistryRoot root, std::string path)
            : m_store(store), m_root(root), m_path(std::move(path)) {}

        std::optional<RegistryData> QueryValue(std::string_view name) override {
            std::lock_guard lock(m_store.m_mutex);
            auto it = m_store.m_values.find({m_root, m_path, Fold(name)});
            if (it == m_store.m_values.end()) {
                return std::nullopt;
            }
            return it->second;
        }

        bool SetValue(std::string_view name, std::uint32_t type, std::string_view bytes) override {
            if (m_store.m_refuseWrites) {
                return false;
            }
            ++m_store.m_writes;
            std::lock_guard lock(m_store.m_mutex);
            m_store.m_values[{m_root, m_path, Fold(name)}] = RegistryData{type, std::string(bytes)};
            return true;
        }

    private:
        FakeRegistryStore& m_store;
        RegistryRoot m_root;
        std::string m_path;
    };

    mutable std::mutex m_mutex;
    std::set<std::pair<RegistryRoot, std::string>> m_keys;
    std::map<ValueId, RegistryData> m_values;
    std::atomic<bool> m_refuseWrites{false};
    std::atomic<int> m_opens{0};
    std::atomic<int> m_creates{0};
    std::atomic<int> m_writes{0};
};
