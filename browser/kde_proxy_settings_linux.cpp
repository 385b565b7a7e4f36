#include "kde_proxy_settings_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "file_posix.h"
#include "glib_handles_linux.h"
#include "kconfig_text.h"

namespace fs = std::filesystem;

namespace {

std::string ProxyUrl(const DesktopProxy& proxy) {
    // KIO's own notation: a blank, not a colon, before the port.
    return "http://" + proxy.host + " " + std::to_string(proxy.port);
}

std::string JoinHosts(const std::vector<std::string>& hosts) {
    std::string out;
    for (const std::string& host : hosts) {
        out += out.empty() ? "" : ",";
        out += host;
    }
    return out;
}

}  // namespace

bool UsesKdeProxySettings(const DesktopEnvironment& desktop) {
    std::error_code ec;
    return desktop.currentDesktop.find("KDE") != std::string::npos ||
           (!desktop.configHome.empty() && fs::exists(desktop.configHome / "kioslaverc", ec));
}

std::string EditKioslaverc(const std::string& text, const DesktopProxy& proxy) {
    if (!proxy.manual) {
        return SetKConfigEntries(text, kKioProxyGroup, {{"ProxyType", "0"}});
    }
    return SetKConfigEntries(text, kKioProxyGroup,
                             {{"ProxyType", "1"},
                              {"httpProxy", ProxyUrl(proxy)},
                              {"httpsProxy", ProxyUrl(proxy)},
                              {"NoProxyFor", JoinHosts(proxy.ignoreHosts)}});
}

bool ApplyKdeProxy(const DesktopEnvironment& desktop, const DesktopProxy& proxy) {
    if (desktop.configHome.empty() || !UsesKdeProxySettings(desktop)) {
        return false;
    }
    std::error_code ec;
    fs::path file = desktop.configHome / "kioslaverc";
    // A linked file (kept with the user's dotfiles) stays linked: the real
    // file is the one replaced.
    if (fs::is_symlink(file, ec)) {
        file = fs::canonical(file, ec);
        if (ec) {
            return false;
        }
    }
    std::string text;
    mode_t mode = 0600;
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            return false;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    } else {
        fs::create_directories(file.parent_path(), ec);
    }
    std::string edited = EditKioslaverc(text, proxy);
    if (edited != text && ReplaceFile(file.string(), edited, mode) != 0) {
        return false;
    }
    SendKioReparseSignal(desktop.sessionBusAddress);
    return true;
}

bool SendKioReparseSignal(const std::string& sessionBusAddress) {
    if (sessionBusAddress.empty()) {
        return false;
    }
    // A connection of our own, closed right after: nothing of D-Bus stays in
    // the process, and a bus that went away fails this call only.
    GError* raw = nullptr;
    glib::Object<GDBusConnection> bus(g_dbus_connection_new_for_address_sync(
        sessionBusAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw));
    glib::Error error(raw);
    if (!bus) {
        return false;
    }
    raw = nullptr;
    bool sent = g_dbus_connection_emit_signal(bus.get(), nullptr, "/KIO/Scheduler",
                                              "org.kde.KIO.Scheduler", "reparseSlaveConfiguration",
                                              g_variant_new("(s)", ""), &raw) != FALSE;
    error.reset(raw);
    raw = nullptr;
    sent = g_dbus_connection_flush_sync(bus.get(), nullptr, &raw) != FALSE && sent;
    error.reset(raw);
    g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    return sent;
}
