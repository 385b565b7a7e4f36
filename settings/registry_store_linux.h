// The registry's contract kept in one SQLite database: (root, key path, value
// name) -> (type, raw bytes), names compared without regard to ASCII case.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "registry_store.h"

// $XDG_CONFIG_HOME/quillon/settings.db, or ~/.config/quillon/settings.db when
// the variable is unset or not absolute; empty when no home is known.
std::filesystem::path DefaultSettingsDatabasePath();

class SqliteRegistryStore final : public IRegistryStore {
public:
    // Every key opens its own connection, so threads and processes share the
    // store without a lock of ours. A writer blocked by another one waits at
    // most busyTimeout, then the write fails like a refused registry write.
    explicit SqliteRegistryStore(std::filesystem::path database,
                                 std::chrono::milliseconds busyTimeout = std::chrono::seconds(2));

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

private:
    std::filesystem::path m_database;
    std::chrono::milliseconds m_busyTimeout;
};
