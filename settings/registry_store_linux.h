// The registry's contract kept in one SQLite database: (root, key path, value
// name) -> (type, raw bytes), names compared without regard to ASCII case.
#pragma once

#include <chrono>
#include <filesystem>

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

private:
    std::filesystem::path m_database;
    std::chrono::milliseconds m_busyTimeout;
};
