#include <windows.h>
#include <wininet.h>

#include <charconv>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "connection_options.h"
#include "process_registry_store.h"
#include "proxy_settings_keeper.h"

namespace {

// WinINet wants writable texts in its option records; these copies live for
// the one call.
std::vector<char> WritableText(const char* text) {
    std::string copy = text != nullptr ? text : "";
    return std::vector<char>(copy.c_str(), copy.c_str() + copy.size() + 1);
}

struct GlobalFreer {
    void operator()(char* text) const { GlobalFree(text); }
};
// A text WinINet allocated for a query.
using GlobalText = std::unique_ptr<char, GlobalFreer>;

// The per-connection options the program changes, and the user's proxy
// auto-configuration file, which it leaves alone when pointing.
struct PerConnectionOptions {
    DWORD flags = PROXY_TYPE_DIRECT;
    std::string proxyServer;
    std::string proxyBypass;
    std::optional<std::string> autoconfigUrl;
};

// Writes the options, then tells running browsers to reread them. The
// notifications go out even when the write failed; their own results do not
// matter (Wine, for one, refuses the refresh without a handle).
bool WriteOptions(const char* connectionName, const PerConnectionOptions& values) {
    std::vector<char> name = WritableText(connectionName);
    std::vector<char> server = WritableText(values.proxyServer.c_str());
    std::vector<char> bypass = WritableText(values.proxyBypass.c_str());
    std::vector<char> url = WritableText(values.autoconfigUrl.value_or("").c_str());
    std::vector<INTERNET_PER_CONN_OPTIONA> options(values.autoconfigUrl ? 4 : 3);
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = values.flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server.data();
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[2].Value.pszValue = bypass.data();
    if (values.autoconfigUrl) {
        options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
        options[3].Value.pszValue = url.data();
    }
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connectionName != nullptr ? name.data() : nullptr;
    list.dwOptionCount = static_cast<DWORD>(options.size());
    list.pOptions = options.data();
    BOOL stored =
        InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    return stored != FALSE;
}

std::string EncodeOptions(const PerConnectionOptions& values) {
    return JoinFields({std::to_string(values.flags), values.proxyServer, values.proxyBypass,
                       values.autoconfigUrl.value_or("")});
}

std::optional<PerConnectionOptions> DecodeOptions(const std::string& settings) {
    std::optional<std::vector<std::string>> fields = SplitFields(settings);
    PerConnectionOptions values;
    if (!fields || fields->size() != 4) {
        return std::nullopt;
    }
    const std::string& flags = (*fields)[0];
    auto [end, error] = std::from_chars(flags.data(), flags.data() + flags.size(), values.flags);
    if (error != std::errc() || end != flags.data() + flags.size()) {
        return std::nullopt;
    }
    values.proxyServer = (*fields)[1];
    values.proxyBypass = (*fields)[2];
    values.autoconfigUrl = (*fields)[3];
    return values;
}

// The connection's options as the user's control panel set them.
class WinInetProxySettings final : public IProxySettingsPlace {
public:
    explicit WinInetProxySettings(const char* connectionName)
        : m_hasName(connectionName != nullptr), m_name(m_hasName ? connectionName : "") {}

    std::string_view Name() const override { return "WinINet"; }

    std::optional<std::string> Read() override {
        INTERNET_PER_CONN_OPTIONA options[4]{};
        options[0].dwOption = INTERNET_PER_CONN_FLAGS;
        options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
        options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
        options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
        INTERNET_PER_CONN_OPTION_LISTA list{};
        list.dwSize = sizeof(list);
        list.pszConnection = m_hasName ? m_name.data() : nullptr;
        list.dwOptionCount = 4;
        list.pOptions = options;
        DWORD size = sizeof(list);
        BOOL read =
            InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size);
        GlobalText texts[] = {GlobalText(options[1].Value.pszValue),
                              GlobalText(options[2].Value.pszValue),
                              GlobalText(options[3].Value.pszValue)};
        if (read == FALSE) {
            return std::nullopt;
        }
        auto text = [](const GlobalText& value) { return std::string(value ? value.get() : ""); };
        return EncodeOptions(
            {options[0].Value.dwValue, text(texts[0]), text(texts[1]), text(texts[2])});
    }

    bool Write(const std::string& settings) override {
        std::optional<PerConnectionOptions> values = DecodeOptions(settings);
        return values && WriteOptions(m_hasName ? m_name.c_str() : nullptr, *values);
    }

    bool PointsAt(const std::string& settings, std::string_view proxyServer) const override {
        std::optional<PerConnectionOptions> values = DecodeOptions(settings);
        return values && (values->flags & PROXY_TYPE_PROXY) != 0 &&
               values->proxyServer == proxyServer;
    }

    std::string WithDirectAccess(const std::string& settings) const override {
        std::optional<PerConnectionOptions> values = DecodeOptions(settings);
        if (!values) {
            return settings;
        }
        values->flags = PROXY_TYPE_DIRECT;
        return EncodeOptions(*values);
    }

private:
    bool m_hasName;
    std::string m_name;
};

class WinInetConnectionOptions final : public IConnectionOptions {
public:
    explicit WinInetConnectionOptions(IRegistryStore& store) : m_keeper(store) {}

    bool SetConnectionOptions(const char* connectionName, const char* proxyServer) override {
        try {
            WinInetProxySettings current(connectionName);
            IProxySettingsPlace* places[] = {&current};
            m_keeper.BeforePointing(connectionName, proxyServer, places);
            return WriteOptions(connectionName, {kProxyTypeDirect | kProxyTypeProxy,
                                                 proxyServer != nullptr ? proxyServer : "",
                                                 kLocalProxyBypass, std::nullopt});
        } catch (const std::bad_alloc&) {
            WriteDebugOutput(kSetAllocationFailure);
            return false;
        }
    }

    // The user's options come back, or a pointer at the program left by a
    // crash becomes direct access; true when nothing had to be written.
    bool DisableConnectionProxy(const char* connectionName) override {
        try {
            WinInetProxySettings current(connectionName);
            IProxySettingsPlace* places[] = {&current};
            return m_keeper.GiveBack(connectionName, places).written;
        } catch (const std::bad_alloc&) {
            WriteDebugOutput(kDisableAllocationFailure);
            return false;
        }
    }

private:
    ProxySettingsKeeper m_keeper;
};

}  // namespace

void WriteDebugOutput(const char* text) {
    OutputDebugStringA(text);
}

std::unique_ptr<IConnectionOptions> MakeSystemConnectionOptions() {
    return std::make_unique<WinInetConnectionOptions>(ProcessRegistryStore());
}
