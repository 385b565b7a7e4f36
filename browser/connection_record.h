// Where a system without WinINet keeps the per-connection options, so that
// switching to direct access keeps the proxy server and bypass list, across
// runs: HKEY_CURRENT_USER "Software\Quillon\Connections\<name>", values
// Flags (REG_DWORD), ProxyServer and ProxyBypass (REG_SZ). Windows keeps the
// same record to know, after a crash, which proxy is the program's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "registry_store.h"

struct ConnectionRecord {
    std::uint32_t flags = 0;
    std::string proxyServer;
    std::string proxyBypass;
};

// The record of a connection pointed at the program's proxy: flags direct +
// proxy, the server text as given, bypass "local".
ConnectionRecord PointingRecord(const char* proxyServer);

// The key of a connection; a missing or empty name is the LAN connection, as
// in WinINet.
std::string ConnectionRecordKey(const char* connectionName);

// Writes all three values, the flags last: a record that says "proxy" never
// names a server older than itself. False unless every value was stored.
bool WriteConnectionRecord(IRegistryStore& store, const char* connectionName,
                           const ConnectionRecord& record);
// Writes the flags only.
bool WriteConnectionFlags(IRegistryStore& store, const char* connectionName, std::uint32_t flags);
// nullopt when the connection has no record; absent values read as empty.
std::optional<ConnectionRecord> ReadConnectionRecord(IRegistryStore& store,
                                                     const char* connectionName);
