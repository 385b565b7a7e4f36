// The browser's per-connection proxy options: pointing a connection at a
// proxy and giving the user's own options back. Windows writes WinINet's
// options; Linux keeps a record of the same options and applies it to the
// desktop's proxy settings (GNOME and KDE).
#pragma once

#include <cstdint>
#include <memory>

// WinINet's option values, kept by number so both builds store the same.
inline constexpr std::uint32_t kProxyTypeDirect = 1;
inline constexpr std::uint32_t kProxyTypeProxy = 2;

// The only connection the program changes, and the bypass list it sets.
inline constexpr const char* kDefaultConnectionName = "DefaultConnectionSettings";
inline constexpr const char* kLocalProxyBypass = "local";

// The only diagnostics of this part: written when the option records cannot
// be allocated.
inline constexpr const char* kSetAllocationFailure =
    "failed to allocat memory in SetConnectionOptions()";
inline constexpr const char* kDisableAllocationFailure =
    "failed to allocat memory in DisableConnectionProxy()";
// The debugger's output on Windows, standard error on Linux.
void WriteDebugOutput(const char* text);

class IConnectionOptions {
public:
    virtual ~IConnectionOptions() = default;
    // Flags direct + proxy, the proxy server text as given, bypass "local".
    // The options it replaces are saved first (once, until given back).
    virtual bool SetConnectionOptions(const char* connectionName, const char* proxyServer) = 0;
    // Gives back the options saved by the first Set. With none saved, options
    // that still point at the program's proxy become direct access; any
    // others are the user's and stay as they are.
    virtual bool DisableConnectionProxy(const char* connectionName) = 0;
};

// The system's own options: WinINet on Windows, the desktop on Linux (read
// from the environment at the call).
std::unique_ptr<IConnectionOptions> MakeSystemConnectionOptions();

// The two operations on the system's options. The result is the outcome of
// storing the options (the BOOL of InternetSetOptionA on Windows, TRUE when
// Disable had nothing to write); false on allocation failure. Each call makes
// an object of its own, so options the store refused to save do not outlive
// the call; the program keeps one object for its whole run.
bool SetConnectionOptions(const char* connectionName, const char* proxyServer);
bool DisableConnectionProxy(const char* connectionName);
