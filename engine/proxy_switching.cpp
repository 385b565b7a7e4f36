#include "proxy_switching.h"

#include "socket_shim.h"
#include "upstream_failure.h"

namespace {

constexpr const char* kNoProxy = "No proxy selected";
constexpr const char* kChooseAnother = "Please choose another Proxy!";
constexpr const char* kCannotStart = "Cannot Start Proxy!";
constexpr const char* kUnresolved = "Unable to solve proxy server name";
constexpr const char* kNoConnection = "Unable to connect to proxy server";

std::string PortTakenText(int port) {
    return "Cannot Start Proxy! Port " + std::to_string(port) +
           " on 127.0.0.1 is in use by another program, so anonymous browsing is off and "
           "the browser connects as it did before. Close that program, then choose \"Enable "
           "Quillon\".";
}

}  // namespace

ProxySwitching::ProxySwitching(CProxyServer& server, IConnectionOptions& browser,
                               SettingsCatalogue& settings, IProxySwitchingHost& host,
                               int localPort)
    : m_server(server),
      m_browser(browser),
      m_settings(settings),
      m_host(host),
      m_localPort(localPort),
      m_localEndpoint("127.0.0.1:" + std::to_string(localPort)) {}

bool ProxySwitching::SwitchOn(const ProxyEndpoint& endpoint, const std::string& failureText) {
    // The engine first: the browser is pointed only at a port this program
    // holds. A listener that runs already keeps its port and takes the new
    // upstream.
    if (!m_server.Start(m_localPort, 1, endpoint.host, endpoint.port, "", "")) {
        // Whatever pointed the browser here before (an earlier run that
        // ended without a word) goes too.
        m_browser.DisableConnectionProxy(kDefaultConnectionName);
        m_host.ShowMessage(failureText, "ERROR");
        return false;
    }
    m_browser.SetConnectionOptions(kDefaultConnectionName, m_localEndpoint.c_str());
    return true;
}

bool ProxySwitching::IsOwnEndpoint(const ProxyEndpoint& endpoint, std::uint32_t address) const {
    return IsOwnListener(address, static_cast<std::uint16_t>(endpoint.port), net::kLoopbackAddress,
                         static_cast<std::uint16_t>(m_localPort));
}

void ProxySwitching::SwitchOff() {
    m_browser.DisableConnectionProxy(kDefaultConnectionName);
    m_settings.UseProxy.Set(0);
    if (m_server.IsRunning() != 0) {
        m_server.Stop();
    }
}

void ProxySwitching::EndSession() {
    // The browser gets its own configuration back; the stored choice stays,
    // so that the next start switches on again.
    m_browser.DisableConnectionProxy(kDefaultConnectionName);
    m_server.Stop();
}

bool ProxySwitching::ApplyStartupProxy() {
    try {
        m_host.RefreshSettingsCopies();
        const std::string proxy = m_settings.ProxyName.Get();
        // The tray command starts from what happened here: on when the local
        // proxy was started, so that its first use turns it off.
        m_toggle = 0;
        if (!proxy.empty()) {
            const ProxyEndpoint endpoint = ParseProxyEndpoint(proxy);
            // No look-up at start: a name is caught by the engine instead.
            const std::optional<std::uint32_t> address = net::ParseIPv4(endpoint.host);
            if (address && IsOwnEndpoint(endpoint, *address)) {
                m_host.ShowMessage(kChooseAnother, "ERROR");
            } else if (SwitchOn(endpoint, PortTakenText(m_localPort))) {
                m_toggle = 1;
            }
        }
        m_host.RefreshControls();
        return true;
    } catch (...) {
        return false;
    }
}

void ProxySwitching::OnToggleProxy() {
    m_toggle = m_toggle == 0 ? 1 : 0;
    if (m_toggle == 0) {
        m_cachedUseProxy = 0;
        SwitchOff();
        m_host.RefreshControls();
        return;
    }
    // An attempt that fails changes nothing, the flag included: the command
    // still reads off, and its next use tries again.
    const std::string proxy = m_settings.ProxyName.Get();
    if (proxy.empty()) {
        m_toggle = 0;
        m_host.ShowMessage(kNoProxy, "");
        m_host.RefreshControls();
        return;
    }
    const ProxyEndpoint endpoint = ParseProxyEndpoint(proxy);
    if (CheckProxyReachable(endpoint.host, endpoint.port) == 0) {
        m_toggle = 0;
        if (m_ending) {
            return;
        }
        m_host.ShowMessage(kChooseAnother, "ERROR");
        m_host.RefreshControls();
        return;
    }
    m_toggle = SwitchOn(endpoint, kCannotStart) ? 1 : 0;
    m_cachedUseProxy = 1;
    m_settings.UseProxy.Set(1);
    m_settings.ProxyName.Set(proxy);
    m_host.RefreshControls();
}

void ProxySwitching::ApplyProxySelection(const std::string& proxyText) {
    if (m_cachedUseProxy != 0) {
        if (proxyText.empty()) {
            m_host.ShowMessage(kNoProxy, "");
        } else {
            const ProxyEndpoint endpoint = ParseProxyEndpoint(proxyText);
            if (CheckProxyReachable(endpoint.host, endpoint.port) == 0) {
                if (m_ending) {
                    return;
                }
                m_host.ShowMessage(kChooseAnother, "ERROR");
            } else {
                const bool started = SwitchOn(endpoint, kCannotStart);
                m_settings.UseProxy.Set(1);
                m_settings.ProxyName.Set(proxyText);
                m_toggle = started ? 1 : 0;
            }
        }
    } else {
        SwitchOff();
        m_toggle = 0;
    }
    // The check marks follow the outcome, whatever the box said.
    m_host.RefreshControls();
    m_host.RestartCleaningWorker();
    m_host.ShowTrayIconIfHidden();
    m_host.HideMainWindow();
}

int ProxySwitching::CheckProxyReachable(const std::string& host, int port) {
    enum class Found { kUnresolved, kOwn, kRefused, kReachable };
    Found found = Found::kRefused;
    const bool finished = m_host.Waits().Run([&](std::stop_token stop) {
        net::SocketLibrary library;
        const std::optional<std::uint32_t> address = net::ResolveIPv4(host);
        if (!address) {
            found = Found::kUnresolved;
        } else if (IsOwnEndpoint({host, port}, *address)) {
            found = Found::kOwn;  // it would relay to itself
        } else {
            net::Socket s(net::OpenTcp());
            found =
                s.Valid() && net::ConnectWithin(s.Get(), *address, static_cast<std::uint16_t>(port),
                                                kUpstreamConnectTimeoutMs,
                                                stop) == net::ConnectOutcome::kConnected
                    ? Found::kReachable
                    : Found::kRefused;
        }
    });
    if (!finished) {
        m_ending = true;  // the program ends: nothing more to tell
        return 0;
    }
    switch (found) {
        case Found::kUnresolved:
            m_host.ShowMessage(kUnresolved, "Error");
            return 0;
        case Found::kRefused:
            m_host.ShowMessage(kNoConnection, "Error");
            return 0;
        case Found::kOwn:
            return 0;  // the caller asks for another
        case Found::kReachable:
            break;
    }
    return 1;
}
