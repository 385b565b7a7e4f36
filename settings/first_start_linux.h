// What an installer writes for each user on Windows, written by the program
// itself on Linux, where a package installs for all users at once: the data
// folder (AppPath) and the installed program (AppFullPath), each only when it
// is absent. A value that is there, even empty, is never changed.
#pragma once

#include <filesystem>

#include "registry_store.h"

// AppPath: `dataHome`/quillon/ (the folder is created); AppFullPath:
// `executable`. Either is skipped when its path is empty. Runs before the
// settings are read, so that this start already uses both.
void StorePerUserDefaults(IRegistryStore& store, const std::filesystem::path& dataHome,
                          const std::filesystem::path& executable);

// The path of the running program (/proc/self/exe); empty when unknown.
std::filesystem::path RunningExecutable();
