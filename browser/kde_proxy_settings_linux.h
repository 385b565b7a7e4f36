// KDE's proxy settings: group [Proxy Settings] of kioslaverc, which KIO and
// Chromium on KDE read, followed by KIO's signal to reread it.
#pragma once

#include <filesystem>
#include <string>

#include "desktop_environment_linux.h"
#include "desktop_proxy.h"
#include "proxy_settings_keeper.h"

inline constexpr const char* kKioProxyGroup = "Proxy Settings";

// Whether KDE's settings are to be kept: the desktop is KDE, or kioslaverc
// exists already (the user runs KDE programs).
bool UsesKdeProxySettings(const DesktopEnvironment& desktop);

// The file after the edit: ProxyType 1 with httpProxy, httpsProxy and
// NoProxyFor for a manual proxy, ProxyType 0 alone for direct access.
std::string EditKioslaverc(const std::string& text, const DesktopProxy& proxy);

// Rewrites kioslaverc (through a temporary file renamed over it, following a
// symbolic link to the real file) and signals KIO. False when KDE is not in
// use or the file could not be written.
bool ApplyKdeProxy(const DesktopEnvironment& desktop, const DesktopProxy& proxy);

// Tells KIO's programs to reread their proxy settings.
bool SendKioReparseSignal(const std::string& sessionBusAddress);

// The user's group of kioslaverc, line for line, and whether the file and
// the group were there at all: given back, a group that was not there goes
// again, and so does a file the program made that holds nothing else.
class KdeProxySettings final : public IProxySettingsPlace {
public:
    explicit KdeProxySettings(DesktopEnvironment desktop) : m_desktop(std::move(desktop)) {}

    std::string_view Name() const override { return "KDE"; }
    // nullopt unless KDE's settings are in use.
    std::optional<std::string> Read() override;
    bool Write(const std::string& settings) override;
    bool PointsAt(const std::string& settings, std::string_view proxyServer) const override;
    std::string WithDirectAccess(const std::string& settings) const override;

private:
    DesktopEnvironment m_desktop;
};
