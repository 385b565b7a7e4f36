// The registry's contract kept in one SQLite database: (root, key path, value
// name) -> (type, raw bytes), names compared without regard to ASCII case.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registry_store.h"

// $XDG_CONFIG_HOME/quillon/settings.db, or ~/.config/quillon/settings.db when
// the variable is unset or not absolute; empty when no home is known.
std::filesystem::path DefaultSettingsDatabasePath();

class SqliteRegistryStore final : public IRegistryStore {
public:
    // The store keeps one connection for reading (once the file exists) and
    // one for writing (from the first write), with the statements a value
    // read takes already prepared: a read costs a query, no file is opened.
    // Threads take turns on them; other processes share the file through
    // SQLite's own locking, and what they commit is seen at the next read.
    // A writer blocked by another one waits at most busyTimeout, then the
    // write fails like a refused registry write.
    explicit SqliteRegistryStore(std::filesystem::path database,
                                 std::chrono::milliseconds busyTimeout = std::chrono::seconds(2));
    ~SqliteRegistryStore() override;

    std::unique_ptr<IRegistryKey> OpenKey(RegistryRoot root, std::string_view path) override;
    std::unique_ptr<IRegistryKey> CreateKey(RegistryRoot root, std::string_view path) override;

    const std::filesystem::path& Database() const { return m_database; }

    // For administration tools: what the registry's own editor would show.
    struct NamedValue {
        std::string name;
        RegistryData data;
    };
    // nullopt when the key does not exist or the store cannot be read.
    std::optional<std::vector<NamedValue>> Values(RegistryRoot root, std::string_view path);
    std::vector<std::string> Subkeys(RegistryRoot root, std::string_view path);
    enum class DeleteResult { Deleted, Absent, Failed };
    DeleteResult DeleteValue(RegistryRoot root, std::string_view path, std::string_view name);

    struct Connections;
    // What the keys do, on the store's connections.
    std::optional<RegistryData> Query(RegistryRoot root, std::string_view path,
                                      std::string_view name);
    bool Store(RegistryRoot root, std::string_view path, std::string_view name, std::uint32_t type,
               std::string_view bytes);

private:
    std::filesystem::path m_database;
    std::chrono::milliseconds m_busyTimeout;
    std::unique_ptr<Connections> m_connections;
};
