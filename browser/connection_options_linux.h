// The connection options on Linux: the record in the settings store, applied
// to GNOME's and KDE's proxy settings.
#pragma once

#include <array>

#include "connection_options.h"
#include "desktop_environment_linux.h"
#include "gnome_proxy_settings_linux.h"
#include "kde_proxy_settings_linux.h"
#include "proxy_settings_keeper.h"
#include "registry_store.h"

class DesktopConnectionOptions final : public IConnectionOptions {
public:
    DesktopConnectionOptions(IRegistryStore& store, DesktopEnvironment desktop)
        : m_desktop(std::move(desktop)), m_kde(m_desktop), m_keeper(store) {}

    // The result says whether the record was written. The desktops are told
    // even when it was not: giving the user's settings back at exit has to
    // reach the browser whatever became of the store.
    bool SetConnectionOptions(const char* connectionName, const char* proxyServer) override;
    // Gives each desktop the settings the user had before the first Set, or
    // repairs one still pointing at the program; the record says direct.
    bool DisableConnectionProxy(const char* connectionName) override;

private:
    DesktopEnvironment m_desktop;
    GnomeProxySettings m_gnome;
    KdeProxySettings m_kde;
    ProxySettingsKeeper m_keeper;

    std::array<IProxySettingsPlace*, 2> Places() { return {&m_gnome, &m_kde}; }
};
