#include "first_start_linux.h"

#include <string>
#include <system_error>

namespace {

constexpr const char* kSettingsKey = "Software\\Quillon";

bool Present(IRegistryStore& store, const char* name) {
    std::unique_ptr<IRegistryKey> key = store.OpenKey(RegistryRoot::LocalMachine, kSettingsKey);
    return key && key->QueryValue(name).has_value();
}

void StoreText(IRegistryStore& store, const char* name, const std::string& text) {
    if (std::unique_ptr<IRegistryKey> key =
            store.CreateKey(RegistryRoot::LocalMachine, kSettingsKey)) {
        // A REG_SZ keeps its terminating zero.
        key->SetValue(name, kRegSz, std::string(text) + '\0');
    }
}

}  // namespace

void StorePerUserDefaults(IRegistryStore& store, const std::filesystem::path& dataHome,
                          const std::filesystem::path& executable) {
    if (!dataHome.empty() && !Present(store, "AppPath")) {
        std::filesystem::path folder = dataHome / "quillon";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        // Stored even when the folder could not be made: the list's file
        // error then names it, as it names any folder that cannot hold it.
        StoreText(store, "AppPath", folder.string() + "/");
    }
    if (!executable.empty() && !Present(store, "AppFullPath")) {
        StoreText(store, "AppFullPath", executable.string());
    }
}

std::filesystem::path RunningExecutable() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self;
}
