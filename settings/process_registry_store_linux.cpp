#include "process_registry_store.h"
#include "registry_store_linux.h"

IRegistryStore& ProcessRegistryStore() {
    // Built on first use, which is during the construction of the first
    // global setting, so it outlives all of them.
    static SqliteRegistryStore store(DefaultSettingsDatabasePath());
    return store;
}
