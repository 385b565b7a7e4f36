#include "browser_site_data_linux.h"

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "browser_database_linux.h"

namespace fs = std::filesystem;

namespace {

// The name an entry has while it is being removed, in the same folder.
constexpr std::string_view kTrashPrefix = ".quillon-trash-";

fs::file_type TypeOf(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type();
}

// A file, a symlink (not what it points to) or a whole folder; true when it
// is gone (or was never there).
bool Remove(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !ec;
}

// Renames the entry aside first, so that it vanishes at once; a trash entry
// of an earlier, interrupted call goes too.
bool RemoveAside(const fs::path& entry) {
    fs::path trash = entry.parent_path() / (std::string(kTrashPrefix) + entry.filename().string());
    if (!Remove(trash)) {
        return false;
    }
    std::error_code ec;
    fs::rename(entry, trash, ec);
    if (ec == std::errc::no_such_file_or_directory) {
        return true;
    }
    return ec ? Remove(entry) : Remove(trash);
}

// Every entry of a folder that holds one entry per origin, but those whose
// names start with `keep` (an extension's own data). Such a folder that is a
// symlink goes itself: what it points to is not the profile's.
bool ClearOrigins(const fs::path& folder, std::string_view keep) {
    fs::file_type type = TypeOf(folder);
    if (type == fs::file_type::not_found) {
        return true;
    }
    if (type != fs::file_type::directory) {
        return Remove(folder);
    }
    std::vector<fs::path> origins;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->path().filename().string().starts_with(keep)) {
            origins.push_back(it->path());
        }
    }
    bool cleared = !ec;
    for (const fs::path& origin : origins) {
        cleared = RemoveAside(origin) && cleared;
    }
    return cleared;
}

// The rows of Firefox's legacy local storage, deleted in one transaction. A
// database without the table holds none; a file that is not a database is
// left as it is. One left clean is not opened again until it changes.
bool ClearLegacyLocalStorage(const fs::path& database, const DatabaseAccess& access) {
    static const DatabaseScript kDeleteRows{{}, {"DELETE FROM webappsstore2"}};
    fs::file_type type = TypeOf(database);
    if (type == fs::file_type::not_found) {
        return true;
    }
    return type == fs::file_type::regular && RunDatabaseScript(database, kDeleteRows, access);
}

bool ClearFirefox(const fs::path& profile, const DatabaseAccess& access) {
    bool cleared = ClearLegacyLocalStorage(profile / "webappsstore.sqlite", access);
    fs::path storage = profile / "storage";
    fs::file_type type = TypeOf(storage);
    if (type != fs::file_type::directory) {
        // storage/permanent holds the browser's own data: a storage folder
        // that is a symlink is not followed, nor removed.
        return cleared && type == fs::file_type::not_found;
    }
    constexpr std::string_view kExtension = "moz-extension";
    cleared = ClearOrigins(storage / "default", kExtension) && cleared;
    cleared = ClearOrigins(storage / "temporary", kExtension) && cleared;
    return ClearLegacyLocalStorage(storage / "ls-archive.sqlite", access) && cleared;
}

bool ClearChromium(const fs::path& profile) {
    bool cleared = ClearOrigins(profile / "IndexedDB", "chrome-extension_");
    for (const char* folder : {"Local Storage", "Session Storage", "Service Worker"}) {
        cleared = RemoveAside(profile / folder) && cleared;
    }
    return cleared;
}

}  // namespace

bool ClearSiteData(const BrowserProfile& profile, const DatabaseAccess& access) {
    return profile.kind == BrowserKind::Firefox ? ClearFirefox(profile.directory, access)
                                                : ClearChromium(profile.directory);
}
