// The connection options on Linux: the record in the settings store, applied
// to GNOME's and KDE's proxy settings.
#pragma once

#include "connection_options.h"
#include "desktop_environment_linux.h"
#include "registry_store.h"

class DesktopConnectionOptions final : public IConnectionOptions {
public:
    DesktopConnectionOptions(IRegistryStore& store, DesktopEnvironment desktop)
        : m_store(store), m_desktop(std::move(desktop)) {}

    // The result says whether the record was written. The desktops are told
    // even when it was not: switching back to direct access at exit has to
    // reach the browser whatever became of the store.
    bool SetConnectionOptions(const char* connectionName, const char* proxyServer) override;
    bool DisableConnectionProxy(const char* connectionName) override;

private:
    IRegistryStore& m_store;
    DesktopEnvironment m_desktop;
};
