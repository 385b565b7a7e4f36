#include <windows.h>
#include <wininet.h>

#include <new>
#include <string>
#include <vector>

#include "connection_options.h"

namespace {

// WinINet wants writable texts in its option records; these copies live for
// the one call.
std::vector<char> WritableText(const char* text) {
    std::string copy = text != nullptr ? text : "";
    return std::vector<char>(copy.c_str(), copy.c_str() + copy.size() + 1);
}

// Writes the options, then tells running browsers to reread them. The
// notifications go out even when the write failed; their own results do not
// matter (Wine, for one, refuses the refresh without a handle).
bool WriteOptions(char* connectionName, std::vector<INTERNET_PER_CONN_OPTIONA>& options) {
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connectionName;
    list.dwOptionCount = static_cast<DWORD>(options.size());
    list.pOptions = options.data();
    BOOL stored =
        InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    options.clear();
    options.shrink_to_fit();
    InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    return stored != FALSE;
}

class WinInetConnectionOptions final : public IConnectionOptions {
public:
    bool SetConnectionOptions(const char* connectionName, const char* proxyServer) override {
        std::vector<INTERNET_PER_CONN_OPTIONA> options;
        std::vector<char> name;
        std::vector<char> server;
        std::vector<char> bypass;
        try {
            options.resize(3);
            name = WritableText(connectionName);
            server = WritableText(proxyServer);
            bypass = WritableText(kLocalProxyBypass);
        } catch (const std::bad_alloc&) {
            WriteDebugOutput(kSetAllocationFailure);
            return false;
        }
        options[0].dwOption = INTERNET_PER_CONN_FLAGS;
        options[0].Value.dwValue = kProxyTypeDirect | kProxyTypeProxy;
        options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
        options[1].Value.pszValue = server.data();
        options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
        options[2].Value.pszValue = bypass.data();
        return WriteOptions(connectionName != nullptr ? name.data() : nullptr, options);
    }

    bool DisableConnectionProxy(const char* connectionName) override {
        std::vector<INTERNET_PER_CONN_OPTIONA> options;
        std::vector<char> name;
        try {
            options.resize(1);
            name = WritableText(connectionName);
        } catch (const std::bad_alloc&) {
            WriteDebugOutput(kDisableAllocationFailure);
            return false;
        }
        options[0].dwOption = INTERNET_PER_CONN_FLAGS;
        options[0].Value.dwValue = kProxyTypeDirect;
        return WriteOptions(connectionName != nullptr ? name.data() : nullptr, options);
    }
};

}  // namespace

void WriteDebugOutput(const char* text) {
    OutputDebugStringA(text);
}

std::unique_ptr<IConnectionOptions> MakeSystemConnectionOptions() {
    return std::make_unique<WinInetConnectionOptions>();
}
