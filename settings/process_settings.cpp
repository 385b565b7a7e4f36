#include "process_registry_store.h"
#include "settings_catalogue.h"

SettingsCatalogue& Settings() {
    // The program's entry calls this first, so the settings are read before
    // any window or thread exists; the store, built inside, outlives them.
    static SettingsCatalogue settings(ProcessRegistryStore());
    return settings;
}
