// Turning anonymous browsing on and off: the browser's proxy options, the
// local proxy engine and the stored choice, changed together in a fixed
// order. Runs on the interface thread; the main window is its host.
#pragma once

#include <cstdint>
#include <string>

#include "connection_options.h"
#include "proxy_server.h"
#include "responsive_wait.h"
#include "settings_catalogue.h"
#include "upstream_failover.h"  // ProxyEndpoint

inline constexpr int kLocalProxyPort = 8080;

// What proxy switching needs of the main window.
class IProxySwitchingHost {
public:
    virtual ~IProxySwitchingHost() = default;
    // Where the reachability check waits on the network.
    virtual IResponsiveWait& Waits() = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // Re-reads the main window's copies of the settings (UseProxy included).
    virtual void RefreshSettingsCopies() = 0;
    // Shows the state of the copies in the window's controls.
    virtual void RefreshControls() = 0;
    // Stop, SetOptions with the window's four cleaning options, Start.
    virtual void RestartCleaningWorker() = 0;
    virtual void ShowTrayIconIfHidden() = 0;
    virtual void HideMainWindow() = 0;
};

class ProxySwitching {
public:
    ProxySwitching(CProxyServer& server, IConnectionOptions& browser, SettingsCatalogue& settings,
                   IProxySwitchingHost& host, int localPort = kLocalProxyPort);

    // At start-up: a stored proxy switches anonymous browsing on, without a
    // reachability check and whatever UseProxy says. The toggle flag starts
    // as 1 when the local proxy was started, 0 otherwise; a port held by
    // another program is told to the user.
    bool ApplyStartupProxy();
    // The "Enable Quillon" command: off when it is on, otherwise an attempt
    // to switch on.
    void OnToggleProxy();
    // The Settings page's save, with the proxy chosen there.
    void ApplyProxySelection(const std::string& proxyText);
    // 1 when a TCP connection to the proxy can be opened (within the bound
    // the engine keeps too); 0 after telling the user why not, or without a
    // word when the proxy is this program's own listener.
    int CheckProxyReachable(const std::string& host, int port);
    // Whatever ends the run: the browser's configuration is given back and
    // the engine stops; the stored settings stay as they are.
    void EndSession();

    // The tray command's state. It follows what happened, so it tells whether
    // anonymous browsing runs: 1 only after the local proxy was started, 0
    // after switching off and after an attempt that failed. The check marks
    // show it.
    int ToggleFlag() const { return m_toggle; }
    bool IsOn() const { return m_toggle == 1; }
    // The main window's copy of UseProxy.
    int CachedUseProxy() const { return m_cachedUseProxy; }
    void SetCachedUseProxy(int value) { m_cachedUseProxy = value; }

private:
    // False when the engine could not be started: the user has been told
    // with failureText, and the browser is not pointed at the port.
    bool SwitchOn(const ProxyEndpoint& endpoint, const std::string& failureText);
    void SwitchOff();
    bool IsOwnEndpoint(const ProxyEndpoint& endpoint, std::uint32_t address) const;

    CProxyServer& m_server;
    IConnectionOptions& m_browser;
    SettingsCatalogue& m_settings;
    IProxySwitchingHost& m_host;
    int m_localPort;
    std::string m_localEndpoint;
    int m_toggle = 0;
    bool m_ending = false;  // a wait was cut short: the program is ending
    int m_cachedUseProxy = 0;
};
