// GNOME's proxy settings (org.gnome.system.proxy), which Chromium on GNOME
// and Firefox everywhere follow, written through GSettings.
#pragma once

#include "desktop_proxy.h"
#include "proxy_settings_keeper.h"

// Writes mode, the http and https host and port and ignore-hosts as one
// change; for direct access only the mode, keeping the rest. False when the
// schema is not installed or a value was refused.
bool ApplyGnomeProxy(const DesktopProxy& proxy);

// What a user may have set: mode, autoconfig-url, ignore-hosts,
// use-same-proxy and the host and port of http, https, ftp and socks, as
// GVariant text. Written back as one change; values the installed schema
// would not take are passed over.
class GnomeProxySettings final : public IProxySettingsPlace {
public:
    std::string_view Name() const override { return "GNOME"; }
    std::optional<std::string> Read() override;
    bool Write(const std::string& settings) override;
    bool PointsAt(const std::string& settings, std::string_view proxyServer) const override;
    std::string WithDirectAccess(const std::string& settings) const override;
};
