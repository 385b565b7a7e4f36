// The entry that starts the program at every logon. Every start points it at
// the installed program (AppFullPath); there is no switch to turn it off.
#pragma once

#include <memory>
#include <string_view>

#include "registry_store.h"

class IAutostartEntry {
public:
    virtual ~IAutostartEntry() = default;
    // Makes the entry run `command`, writing only when that changes what the
    // entry holds: an entry that already agrees, or an empty command where
    // there is no entry, leaves everything as it is.
    virtual void Update(std::string_view command) = 0;
};

// The desktop's own autostart entry: the Run list's "Quillon" value on
// Windows, an XDG autostart file elsewhere.
std::unique_ptr<IAutostartEntry> SystemAutostartEntry(IRegistryStore& store);

// Copies AppFullPath into the entry. Runs at every start, before the
// single-instance test; failures leave the entry unchanged, silently.
void RunAutostartStep(IRegistryStore& store, IAutostartEntry& entry);
