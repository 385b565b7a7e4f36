// What decides where the desktop's proxy settings live. Read from the
// process's environment by the program; tests build their own.
#pragma once

#include <filesystem>
#include <string>

struct DesktopEnvironment {
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME, else ~/.config
    std::string currentDesktop;        // $XDG_CURRENT_DESKTOP, e.g. "KDE" or "ubuntu:GNOME"
    std::string sessionBusAddress;     // empty when there is no session bus

    static DesktopEnvironment FromProcess();
};
