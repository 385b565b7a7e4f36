#include "connection_options.h"

#include <new>

bool SetConnectionOptions(const char* connectionName, const char* proxyServer) {
    try {
        return MakeSystemConnectionOptions()->SetConnectionOptions(connectionName, proxyServer);
    } catch (const std::bad_alloc&) {
        WriteDebugOutput(kSetAllocationFailure);
        return false;
    }
}

bool DisableConnectionProxy(const char* connectionName) {
    try {
        return MakeSystemConnectionOptions()->DisableConnectionProxy(connectionName);
    } catch (const std::bad_alloc&) {
        WriteDebugOutput(kDisableAllocationFailure);
        return false;
    }
}
