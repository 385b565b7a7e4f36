// Where the profiles of the user's Firefox and Chromium-family browsers are,
// and whether the browser that owns one is running right now.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The folders the browsers derive their own from.
struct BrowserHome {
    std::filesystem::path home;
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME or ~/.config
    std::filesystem::path cacheHome;   // $XDG_CACHE_HOME or ~/.cache

    // From HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME (relative values are
    // ignored, as the XDG rules say). Empty paths when no home is known.
    static BrowserHome FromEnvironment();
};

enum class BrowserKind { Firefox, Chromium };

struct BrowserProfile {
    BrowserKind kind = BrowserKind::Firefox;
    std::filesystem::path directory;  // holds the databases
    // Firefox: the profile itself holds .parentlock; Chromium: the user data
    // folder holds SingletonLock for all of its profiles.
    std::filesystem::path lockDirectory;
    // Cache entry folders that may belong to the profile (some may not exist).
    std::vector<std::filesystem::path> cacheDirectories;
};

// One [ProfileN] section of a profiles.ini text that names a folder.
struct FirefoxProfileEntry {
    std::string path;
    bool relative = true;  // to the folder that holds profiles.ini
};
std::vector<FirefoxProfileEntry> ReadFirefoxProfileList(std::string_view text);

// The profile folder names a Local State text lists (profile.info_cache), as
// given: they are checked for being plain folder names where they are used.
std::vector<std::string> ReadChromiumProfileNames(std::string_view localState);

// Every profile of every browser root that exists under the home: Firefox's
// legacy, XDG, snap and flatpak roots (each profile of profiles.ini), and
// Chromium, Google Chrome and its channels, snap and flatpak (each profile of
// Local State and each folder holding History or Cookies). Each profile once.
std::vector<BrowserProfile> FindBrowserProfiles(const BrowserHome& home);

// True when the profile's browser may be running: Firefox's .parentlock is
// write-locked by a process, or Chromium's SingletonLock names a live process
// (or one this machine cannot check). A left-over lock of a browser that has
// quit does not count.
bool IsBrowserRunning(const BrowserProfile& profile);
