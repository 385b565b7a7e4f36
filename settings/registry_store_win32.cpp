#include "registry_store_win32.h"

#include <windows.h>

#include <string>

namespace {

HKEY RootHandle(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

class Win32RegistryKey final : public IRegistryKey {
public:
    explicit Win32RegistryKey(HKEY key) : m_key(key) {}
    ~Win32RegistryKey() override { RegCloseKey(m_key); }
    Win32RegistryKey(const Win32RegistryKey&) = delete;
    Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

    std::optional<RegistryData> QueryValue(std::string_view name) override {
        const std::string valueName(name);
        RegistryData data;
        // Ask for the size, then read; the value may grow in between, so
        // retry a few times rather than read a truncated value.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD type = 0;
            DWORD size = 0;
            LONG rc = RegQueryValueExA(m_key, valueName.c_str(), nullptr, &type, nullptr, &size);
            if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) {
                return std::nullopt;
            }
            data.bytes.assign(size, '\0');
            rc = RegQueryValueExA(m_key, valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.bytes.data()), &size);
            if (rc == ERROR_SUCCESS) {
                data.bytes.resize(size);
                data.type = type;
                return data;
            }
            if (rc != ERROR_MORE_DATA) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    bool SetValue(std::string_view name, std::uint32_t type, std::string_view bytes) override {
        const std::string valueName(name);
        return RegSetValueExA(m_key, valueName.c_str(), 0, type,
                              reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }

private:
    HKEY m_key;
};

}  // namespace

std::unique_ptr<IRegistryKey> Win32RegistryStore::OpenKey(RegistryRoot root,
                                                          std::string_view path) {
    const std::string keyPath(path);
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(key);
}

std::unique_ptr<IRegistryKey> Win32RegistryStore::CreateKey(RegistryRoot root,
                                                            std::string_view path) {
    const std::string keyPath(path);
    char noClass[] = "";
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(RootHandle(root), keyPath.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(key);
}
