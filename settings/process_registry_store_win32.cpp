#include "process_registry_store.h"
#include "registry_store_win32.h"

IRegistryStore& ProcessRegistryStore() {
    static Win32RegistryStore store;
    return store;
}
