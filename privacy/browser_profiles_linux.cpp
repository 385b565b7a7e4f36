#include "browser_profiles_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return fs::path(value);
}

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string ReadSmallFile(const fs::path& path) {
    // Profile lists are a few KiB; anything huge is not one of them.
    constexpr std::uintmax_t kLimit = 16 * 1024 * 1024;
    std::error_code ec;
    std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kLimit) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The cache folder that mirrors `profile` under `cacheBase`, when the profile
// lies under `configBase`.
std::optional<fs::path> MirroredCache(const fs::path& profile, const fs::path& configBase,
                                      const fs::path& cacheBase) {
    fs::path relative =
        profile.lexically_normal().lexically_relative(configBase.lexically_normal());
    if (relative.empty() || *relative.begin() == "..") {
        return std::nullopt;
    }
    return cacheBase / relative;
}

class ProfileList {
public:
    void Add(BrowserProfile profile) {
        std::error_code ec;
        fs::path key = fs::weakly_canonical(profile.directory, ec);
        if (ec) {
            key = profile.directory.lexically_normal();
        }
        if (m_seen.insert(key.string()).second) {
            m_profiles.push_back(std::move(profile));
        }
    }
    std::vector<BrowserProfile> Take() { return std::move(m_profiles); }

private:
    std::set<std::string> m_seen;
    std::vector<BrowserProfile> m_profiles;
};

struct Root {
    fs::path root;       // holds profiles.ini / Local State
    fs::path cacheBase;  // the cache folder's counterpart of `mirrorBase`
    fs::path mirrorBase;
};

std::string Trim(std::string s) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

void AddFirefoxRoot(const Root& root, ProfileList& out) {
    for (const FirefoxProfileEntry& entry :
         ReadFirefoxProfileList(ReadSmallFile(root.root / "profiles.ini"))) {
        fs::path dir = entry.relative ? root.root / entry.path : fs::path(entry.path);
        BrowserProfile profile;
        profile.kind = BrowserKind::Firefox;
        profile.directory = dir;
        profile.lockDirectory = dir;
        profile.cacheDirectories.push_back(dir / "cache2" / "entries");
        if (auto mirrored = MirroredCache(dir, root.mirrorBase, root.cacheBase)) {
            profile.cacheDirectories.push_back(*mirrored / "cache2" / "entries");
        }
        out.Add(std::move(profile));
    }
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

void AddChromiumRoot(const Root& root, ProfileList& out) {
    if (!IsDirectory(root.root)) {
        return;
    }
    std::vector<std::string> names =
        ReadChromiumProfileNames(ReadSmallFile(root.root / "Local State"));
    std::error_code ec;
    for (fs::directory_iterator it(root.root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& dir = it->path();
        if (IsFile(dir / "History") || IsFile(dir / "Cookies") ||
            IsFile(dir / "Network" / "Cookies")) {
            names.push_back(dir.filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
        if (!IsPlainName(name)) {
            continue;
        }
        fs::path dir = root.root / name;
        if (!IsDirectory(dir)) {
            continue;
        }
        BrowserProfile profile;
        profile.kind = BrowserKind::Chromium;
        profile.directory = dir;
        profile.lockDirectory = root.root;
        profile.cacheDirectories.push_back(dir / "Cache" / "Cache_Data");
        if (auto mirrored = MirroredCache(dir, root.mirrorBase, root.cacheBase)) {
            profile.cacheDirectories.push_back(*mirrored / "Cache" / "Cache_Data");
        }
        out.Add(std::move(profile));
    }
}

bool FirefoxRunning(const fs::path& profile) {
    int fd = ::open((profile / ".parentlock").c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // No lock file: the browser has never run here. Anything else we
        // cannot check counts as running.
        return errno != ENOENT;
    }
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 0;
    bool running = ::fcntl(fd, F_GETLK, &query) != 0 || query.l_type != F_UNLCK;
    ::close(fd);
    return running;
}

bool ChromiumRunning(const fs::path& userData) {
    std::error_code ec;
    fs::path lock = userData / "SingletonLock";
    fs::file_status status = fs::symlink_status(lock, ec);
    if (ec || !fs::exists(status)) {
        return false;
    }
    if (!fs::is_symlink(status)) {
        return true;
    }
    std::string target = fs::read_symlink(lock, ec).string();
    std::size_t dash = target.rfind('-');
    if (ec || dash == std::string::npos || dash + 1 >= target.size() || dash + 10 < target.size()) {
        return true;
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || target.substr(0, dash) != host) {
        // Another machine's browser on a shared home: we cannot see it.
        return true;
    }
    long pid = 0;
    for (std::size_t i = dash + 1; i < target.size(); ++i) {
        if (target[i] < '0' || target[i] > '9') {
            return true;
        }
        pid = pid * 10 + (target[i] - '0');
    }
    if (pid <= 0) {
        return true;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

// [ProfileN] sections of profiles.ini: Path= and IsRelative=.
std::vector<FirefoxProfileEntry> ReadFirefoxProfileList(std::string_view text) {
    std::vector<FirefoxProfileEntry> entries;
    std::istringstream lines{std::string(text)};
    std::string line;
    bool inProfile = false;
    FirefoxProfileEntry entry;
    auto flush = [&] {
        if (inProfile && !entry.path.empty()) {
            entries.push_back(std::move(entry));
        }
        entry = {};
    };
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[') {
            flush();
            inProfile = line.rfind("[Profile", 0) == 0;
            continue;
        }
        std::size_t eq = line.find('=');
        if (!inProfile || eq == std::string::npos) {
            continue;
        }
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (key == "Path") {
            entry.path = value;
        } else if (key == "IsRelative") {
            entry.relative = value != "0";
        }
    }
    flush();
    return entries;
}

std::vector<std::string> ReadChromiumProfileNames(std::string_view localState) {
    std::vector<std::string> names;
    nlohmann::json state = nlohmann::json::parse(localState, nullptr, false);
    if (!state.is_object()) {
        return names;
    }
    auto profile = state.find("profile");
    if (profile != state.end() && profile->is_object()) {
        auto cache = profile->find("info_cache");
        if (cache != profile->end() && cache->is_object()) {
            for (const auto& item : cache->items()) {
                names.push_back(item.key());
            }
        }
    }
    return names;
}

BrowserHome BrowserHome::FromEnvironment() {
    BrowserHome home;
    home.home = AbsoluteEnv("HOME");
    home.configHome = AbsoluteEnv("XDG_CONFIG_HOME");
    home.cacheHome = AbsoluteEnv("XDG_CACHE_HOME");
    if (home.configHome.empty() && !home.home.empty()) {
        home.configHome = home.home / ".config";
    }
    if (home.cacheHome.empty() && !home.home.empty()) {
        home.cacheHome = home.home / ".cache";
    }
    return home;
}

std::vector<BrowserProfile> FindBrowserProfiles(const BrowserHome& home) {
    ProfileList list;
    std::vector<Root> firefox;
    std::vector<Root> chromium;
    if (!home.home.empty()) {
        fs::path snapFirefox = home.home / "snap" / "firefox" / "common";
        fs::path flatFirefox = home.home / ".var" / "app" / "org.mozilla.firefox";
        fs::path snapChromium = home.home / "snap" / "chromium" / "common";
        fs::path flatChromium = home.home / ".var" / "app" / "org.chromium.Chromium";
        fs::path flatChrome = home.home / ".var" / "app" / "com.google.Chrome";
        fs::path legacy = home.home / ".mozilla" / "firefox";
        firefox.push_back({legacy, home.cacheHome / "mozilla" / "firefox", legacy});
        firefox.push_back({snapFirefox / ".mozilla" / "firefox",
                           snapFirefox / ".cache" / "mozilla" / "firefox",
                           snapFirefox / ".mozilla" / "firefox"});
        firefox.push_back({flatFirefox / ".mozilla" / "firefox",
                           flatFirefox / "cache" / "mozilla" / "firefox",
                           flatFirefox / ".mozilla" / "firefox"});
        chromium.push_back({snapChromium / "chromium", snapChromium / ".cache", snapChromium});
        chromium.push_back({flatChromium / "config" / "chromium", flatChromium / "cache",
                            flatChromium / "config"});
        chromium.push_back(
            {flatChrome / "config" / "google-chrome", flatChrome / "cache", flatChrome / "config"});
    }
    if (!home.configHome.empty()) {
        fs::path xdg = home.configHome / "mozilla" / "firefox";
        firefox.push_back({xdg, home.cacheHome / "mozilla" / "firefox", xdg});
        for (const char* name :
             {"chromium", "google-chrome", "google-chrome-beta", "google-chrome-unstable"}) {
            chromium.push_back({home.configHome / name, home.cacheHome, home.configHome});
        }
    }
    for (const Root& root : firefox) {
        AddFirefoxRoot(root, list);
    }
    for (const Root& root : chromium) {
        AddChromiumRoot(root, list);
    }
    return list.Take();
}

bool IsBrowserRunning(const BrowserProfile& profile) {
    return profile.kind == BrowserKind::Firefox ? FirefoxRunning(profile.lockDirectory)
                                                : ChromiumRunning(profile.lockDirectory);
}
