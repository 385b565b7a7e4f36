#include "config_home_linux.h"

#include <cstdlib>

namespace {

std::filesystem::path XdgFolder(const char* variable, const char* underHome) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        return {};
    }
    return std::filesystem::path(home) / underHome;
}

}  // namespace

std::filesystem::path UserConfigHome() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path UserDataHome() {
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}
