// The narrow slice of the registry that the value objects need. Windows uses
// the real registry; Linux keeps the same keys and values in SQLite.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class RegistryRoot : std::uint32_t {
    LocalMachine = 1,
    CurrentUser = 2,
};

// The registry's own type numbers, so stored types read the same everywhere.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct RegistryData {
    std::uint32_t type = 0;
    std::string bytes;  // raw data, exactly as stored (a REG_SZ keeps its zero)
};

// One open key, valid for one read or one write. Use it only for the access it
// was opened with: the registry refuses queries on a key created for writing.
class IRegistryKey {
public:
    virtual ~IRegistryKey() = default;
    // nullopt when the value is absent or cannot be read.
    virtual std::optional<RegistryData> QueryValue(std::string_view name) = 0;
    // false when nothing was stored.
    virtual bool SetValue(std::string_view name, std::uint32_t type, std::string_view bytes) = 0;
};

class IRegistryStore {
public:
    virtual ~IRegistryStore() = default;
    // Opens an existing key for reading; nullptr when it does not exist or
    // the store cannot be read. An empty path is the root itself.
    virtual std::unique_ptr<IRegistryKey> OpenKey(RegistryRoot root, std::string_view path) = 0;
    // Opens a key for writing, creating it and its parents as needed.
    virtual std::unique_ptr<IRegistryKey> CreateKey(RegistryRoot root, std::string_view path) = 0;
};
