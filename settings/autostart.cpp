#include "autostart.h"

#include <string>

#include "settings_catalogue.h"

void RunAutostartStep(IRegistryStore& store, IAutostartEntry& entry) {
    const std::string command = AppFullPath(store).Get();
    entry.Update(command);
}
