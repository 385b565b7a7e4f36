// Every persistent setting of the program. The thirteen long-lived ones are
// members of one catalogue, built in the order below (each reads its value
// once as it is built) and destroyed in reverse; the others are built for one
// operation by the functions at the end.
#pragma once

#include <cstdint>

#include "registry_dword.h"
#include "registry_store.h"
#include "registry_string.h"

// The key of every setting, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kSettingsKey = "Software\\Quillon";

struct SettingsCatalogue {
    explicit SettingsCatalogue(IRegistryStore& store);

    SettingsCatalogue(const SettingsCatalogue&) = delete;
    SettingsCatalogue& operator=(const SettingsCatalogue&) = delete;

    RegistryString AppPath;     // data folder, ending with a separator; installer's
    RegistryDword UseProxy;     // 1 while anonymous browsing is on
    RegistryString ProxyName;   // upstream proxy in use, host:port
    RegistryDword BlockPopups;  // filter switches, 0 or 1
    RegistryDword EnableJS;
    RegistryDword EnableActiveX;
    RegistryDword ClearTmpFiles;  // cleaning options, 0 or 1
    RegistryDword ClearCookies;
    RegistryDword DeleteAddresses;
    RegistryDword DeleteHistory;
    RegistryDword Minimize;  // 1 once the main window has been shown at a start
    RegistryDword RunFirst;  // 1 once the proxy list was fetched on first run
    RegistryDword AutoSwitch;  // 1: a chosen proxy that stops answering is replaced
};

// The process-wide catalogue, over the process's store, built at its first
// call (the program's entry makes it early) by whichever program links the
// process store.
SettingsCatalogue& Settings();

// Settings that live for one operation only.
RegistryDword NrOfBlockPopups(IRegistryStore& store);
RegistryString TMPProxy(IRegistryStore& store);
RegistryString AppFullPath(IRegistryStore& store);

// Check boxes and toggles store exactly 0 or 1.
constexpr std::uint32_t SwitchValue(bool on) {
    return on ? 1u : 0u;
}
