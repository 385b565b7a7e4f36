// The store behind the process-wide settings. The program links the platform's
// definition (settings_process_store); a test binary may link its own instead,
// so that global settings objects built before main() never reach the user's
// real settings.
#pragma once

#include "registry_store.h"

IRegistryStore& ProcessRegistryStore();
