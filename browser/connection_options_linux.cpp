#include "connection_options_linux.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "connection_record.h"
#include "desktop_proxy.h"
#include "process_registry_store.h"
#include "registry_store_linux.h"

bool DesktopConnectionOptions::SetConnectionOptions(const char* connectionName,
                                                    const char* proxyServer) {
    try {
        bool written = m_keeper.BeforePointing(connectionName, proxyServer, Places());
        const DesktopProxy proxy = DesktopProxyFor(PointingRecord(proxyServer));
        ApplyGnomeProxy(proxy);
        ApplyKdeProxy(m_desktop, proxy);
        return written;
    } catch (const std::bad_alloc&) {
        WriteDebugOutput(kSetAllocationFailure);
        return false;
    }
}

bool DesktopConnectionOptions::DisableConnectionProxy(const char* connectionName) {
    try {
        return m_keeper.GiveBack(connectionName, Places()).recorded;
    } catch (const std::bad_alloc&) {
        WriteDebugOutput(kDisableAllocationFailure);
        return false;
    }
}

DesktopEnvironment DesktopEnvironment::FromProcess() {
    auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    DesktopEnvironment desktop;
    // The folder the settings store lives in: $XDG_CONFIG_HOME or ~/.config.
    desktop.configHome = DefaultSettingsDatabasePath().parent_path().parent_path();
    desktop.currentDesktop = variable("XDG_CURRENT_DESKTOP");
    desktop.sessionBusAddress = variable("DBUS_SESSION_BUS_ADDRESS");
    // The address a systemd session gives its bus when the variable is unset.
    // Never D-Bus's autolaunch, which would start a bus of our own.
    if (desktop.sessionBusAddress.empty()) {
        std::string runtime = variable("XDG_RUNTIME_DIR");
        std::error_code ec;
        if (!runtime.empty() && std::filesystem::exists(runtime + "/bus", ec)) {
            desktop.sessionBusAddress = "unix:path=" + runtime + "/bus";
        }
    }
    return desktop;
}

void WriteDebugOutput(const char* text) {
    std::fprintf(stderr, "%s\n", text);
}

std::unique_ptr<IConnectionOptions> MakeSystemConnectionOptions() {
    return std::make_unique<DesktopConnectionOptions>(ProcessRegistryStore(),
                                                      DesktopEnvironment::FromProcess());
}
