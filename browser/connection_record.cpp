#include "connection_record.h"

#include "connection_options.h"

namespace {

constexpr std::string_view kFlags = "Flags";
constexpr std::string_view kProxyServer = "ProxyServer";
constexpr std::string_view kProxyBypass = "ProxyBypass";

bool SetText(IRegistryKey& key, std::string_view name, const std::string& text) {
    // Stored like every other string setting: up to the first zero, with it.
    std::string bytes = text.substr(0, text.find('\0'));
    bytes.push_back('\0');
    return key.SetValue(name, kRegSz, bytes);
}

bool SetFlags(IRegistryKey& key, std::uint32_t flags) {
    char bytes[4];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((flags >> (8 * i)) & 0xFF);
    }
    return key.SetValue(kFlags, kRegDword, std::string_view(bytes, sizeof bytes));
}

}  // namespace

ConnectionRecord PointingRecord(const char* proxyServer) {
    return {kProxyTypeDirect | kProxyTypeProxy, proxyServer != nullptr ? proxyServer : "",
            kLocalProxyBypass};
}

std::string ConnectionRecordKey(const char* connectionName) {
    std::string name = connectionName != nullptr ? connectionName : "";
    if (name.empty()) {
        name = kDefaultConnectionName;
    }
    return "Software\\Quillon\\Connections\\" + name;
}

bool WriteConnectionRecord(IRegistryStore& store, const char* connectionName,
                           const ConnectionRecord& record) {
    auto key = store.CreateKey(RegistryRoot::CurrentUser, ConnectionRecordKey(connectionName));
    return key && SetText(*key, kProxyServer, record.proxyServer) &&
           SetText(*key, kProxyBypass, record.proxyBypass) && SetFlags(*key, record.flags);
}

bool WriteConnectionFlags(IRegistryStore& store, const char* connectionName, std::uint32_t flags) {
    auto key = store.CreateKey(RegistryRoot::CurrentUser, ConnectionRecordKey(connectionName));
    return key && SetFlags(*key, flags);
}

std::optional<ConnectionRecord> ReadConnectionRecord(IRegistryStore& store,
                                                     const char* connectionName) {
    auto key = store.OpenKey(RegistryRoot::CurrentUser, ConnectionRecordKey(connectionName));
    if (!key) {
        return std::nullopt;
    }
    ConnectionRecord record;
    if (auto flags = key->QueryValue(kFlags); flags && flags->type == kRegDword) {
        for (std::size_t i = 0; i < flags->bytes.size() && i < 4; ++i) {
            record.flags |= static_cast<std::uint32_t>(static_cast<unsigned char>(flags->bytes[i]))
                            << (8 * i);
        }
    }
    auto text = [&key](std::string_view name) {
        auto data = key->QueryValue(name);
        return data ? data->bytes.substr(0, data->bytes.find('\0')) : std::string();
    };
    record.proxyServer = text(kProxyServer);
    record.proxyBypass = text(kProxyBypass);
    return record;
}
