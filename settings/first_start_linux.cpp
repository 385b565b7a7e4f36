#include "first_start_linux.h"

#include <string>
#include <system_error>

#include "settings_catalogue.h"

namespace {

RegistryString Setting(IRegistryStore& store, const char* name) {
    return RegistryString(std::string(kSettingsKey) + "\\" + name, "", false,
                          RegistryRoot::LocalMachine, store);
}

}  // namespace

void StorePerUserDefaults(IRegistryStore& store, const std::filesystem::path& dataHome,
                          const std::filesystem::path& executable) {
    // A value counts as present once it was read, even when it is empty.
    if (RegistryString appPath = Setting(store, "AppPath");
        !dataHome.empty() && !appPath.IsLoaded()) {
        std::filesystem::path folder = dataHome / "quillon";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        // Stored even when the folder could not be made: the list's file
        // error then names it, as it names any folder that cannot hold it.
        appPath.Set(folder.string() + "/");
    }
    if (RegistryString fullPath = AppFullPath(store); !executable.empty() && !fullPath.IsLoaded()) {
        fullPath.Set(executable.string());
    }
}

std::filesystem::path RunningExecutable() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self;
}
