#include "settings_catalogue.h"

#include <string>

namespace {

constexpr RegistryRoot kRoot = RegistryRoot::LocalMachine;

std::string PathOf(const char* name) {
    return std::string(kSettingsKey) + "\\" + name;
}

RegistryDword Number(IRegistryStore& store, const char* name, std::uint32_t defaultValue) {
    return RegistryDword(PathOf(name), defaultValue, false, kRoot, store);
}

RegistryString Text(IRegistryStore& store, const char* name) {
    return RegistryString(PathOf(name), "", false, kRoot, store);
}

}  // namespace

// Members are built in declaration order, which is the order of the table.
SettingsCatalogue::SettingsCatalogue(IRegistryStore& store)
    : AppPath(Text(store, "AppPath")),
      UseProxy(Number(store, "UseProxy", 0)),
      ProxyName(Text(store, "ProxyName")),
      BlockPopups(Number(store, "BlockPopups", 0)),
      EnableJS(Number(store, "EnableJS", 0)),
      EnableActiveX(Number(store, "EnableActiveX", 0)),
      ClearTmpFiles(Number(store, "ClearTmpFiles", 1)),
      ClearCookies(Number(store, "ClearCookies", 1)),
      DeleteAddresses(Number(store, "DeleteAddresses", 1)),
      DeleteHistory(Number(store, "DeleteHistory", 1)),
      Minimize(Number(store, "Minimize", 0)),
      RunFirst(Number(store, "RunFirst", 0)),
      AutoSwitch(Number(store, "AutoSwitch", 1)) {}

RegistryDword NrOfBlockPopups(IRegistryStore& store) {
    return Number(store, "NrOfBlockPopups", 0);
}

RegistryString TMPProxy(IRegistryStore& store) {
    return Text(store, "TMPProxy");
}

RegistryString AppFullPath(IRegistryStore& store) {
    return Text(store, "AppFullPath");
}
