#include "kde_proxy_settings_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
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

// kioslaverc as found: the real file behind a link (kept with the user's
// dotfiles, it stays linked), its text and its mode.
struct Kioslaverc {
    fs::path path;
    bool exists = false;
    std::string text;
    mode_t mode = 0600;
};

std::optional<Kioslaverc> ReadKioslaverc(const DesktopEnvironment& desktop) {
    if (desktop.configHome.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    Kioslaverc file;
    file.path = desktop.configHome / "kioslaverc";
    if (fs::is_symlink(file.path, ec)) {
        file.path = fs::canonical(file.path, ec);
        if (ec) {
            return std::nullopt;
        }
    }
    struct stat info {};
    if (::stat(file.path.c_str(), &info) != 0) {
        return errno == ENOENT ? std::optional(file) : std::nullopt;
    }
    file.exists = true;
    file.mode = info.st_mode & 07777;
    std::ifstream in(file.path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    file.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return file;
}

// Puts the text in the file's place (through a temporary file renamed over
// it), or removes the file for nullopt; then signals KIO.
bool WriteKioslaverc(const DesktopEnvironment& desktop, const Kioslaverc& file,
                     const std::optional<std::string>& text) {
    std::error_code ec;
    if (!text) {
        if (file.exists && !fs::remove(file.path, ec)) {
            return false;
        }
    } else if (!file.exists || *text != file.text) {
        fs::create_directories(file.path.parent_path(), ec);
        if (ReplaceFile(file.path.string(), *text, file.mode) != 0) {
            return false;
        }
    }
    SendKioReparseSignal(desktop.sessionBusAddress);
    return true;
}

// What is saved: whether the file was there, and the group as it stood.
struct SavedGroup {
    bool fileExisted = false;
    std::optional<std::string> group;
};
constexpr const char* kNoFile = "no file";
constexpr const char* kNoGroup = "no group";
constexpr const char* kGroup = "group";

std::string EncodeGroup(const SavedGroup& saved) {
    if (!saved.fileExisted) {
        return JoinFields({kNoFile});
    }
    return saved.group ? JoinFields({kGroup, *saved.group}) : JoinFields({kNoGroup});
}

std::optional<SavedGroup> DecodeGroup(const std::string& settings) {
    std::optional<std::vector<std::string>> fields = SplitFields(settings);
    if (fields && fields->size() == 1 && (*fields)[0] == kNoFile) {
        return SavedGroup{false, std::nullopt};
    }
    if (fields && fields->size() == 1 && (*fields)[0] == kNoGroup) {
        return SavedGroup{true, std::nullopt};
    }
    // Only the group's own lines: saved text never reaches another group.
    if (fields && fields->size() == 2 && (*fields)[0] == kGroup &&
        KConfigGroupText((*fields)[1], kKioProxyGroup) == (*fields)[1]) {
        return SavedGroup{true, (*fields)[1]};
    }
    return std::nullopt;
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
    if (!UsesKdeProxySettings(desktop)) {
        return false;
    }
    std::optional<Kioslaverc> file = ReadKioslaverc(desktop);
    return file && WriteKioslaverc(desktop, *file, EditKioslaverc(file->text, proxy));
}

std::optional<std::string> KdeProxySettings::Read() {
    if (!UsesKdeProxySettings(m_desktop)) {
        return std::nullopt;
    }
    std::optional<Kioslaverc> file = ReadKioslaverc(m_desktop);
    if (!file) {
        return std::nullopt;
    }
    return EncodeGroup({file->exists, KConfigGroupText(file->text, kKioProxyGroup)});
}

bool KdeProxySettings::Write(const std::string& settings) {
    std::optional<SavedGroup> saved = DecodeGroup(settings);
    std::optional<Kioslaverc> file = saved ? ReadKioslaverc(m_desktop) : std::nullopt;
    if (!file) {
        return false;
    }
    std::string text = ReplaceKConfigGroup(file->text, kKioProxyGroup, saved->group);
    return WriteKioslaverc(
        m_desktop, *file,
        !saved->fileExisted && text.empty() ? std::nullopt : std::optional(std::move(text)));
}

bool KdeProxySettings::PointsAt(const std::string& settings, std::string_view proxyServer) const {
    std::optional<SavedGroup> saved = DecodeGroup(settings);
    if (!saved || !saved->group) {
        return false;
    }
    const DesktopProxy own = PointingProxy(proxyServer);
    std::optional<std::string> url = KConfigValue(*saved->group, kKioProxyGroup, "httpProxy");
    // KIO reads a colon before the port as well.
    return KConfigValue(*saved->group, kKioProxyGroup, "ProxyType") == "1" && url &&
           (*url == EscapeKConfigValue(ProxyUrl(own)) ||
            *url == "http://" + own.host + ":" + std::to_string(own.port));
}

std::string KdeProxySettings::WithDirectAccess(const std::string& settings) const {
    std::optional<SavedGroup> saved = DecodeGroup(settings);
    if (!saved || !saved->group) {
        return settings;
    }
    return EncodeGroup({true, EditKioslaverc(*saved->group, DesktopProxy{})});
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
