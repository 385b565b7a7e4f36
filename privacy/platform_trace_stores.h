// The platform's own trace stores, built once by the start routine and handed
// to the cleaning worker: WinINet, the URL history object and the TypedURLs
// registry values on Windows; the browsers' profiles on Linux.
#pragma once

#include <memory>

#include "registry_store.h"
#include "url_cache.h"

class PlatformTraceStores {
public:
    virtual ~PlatformTraceStores() = default;
    virtual TraceStores Stores() = 0;
};

// `userRegistry` holds the typed addresses on Windows; it must outlive the
// result.
std::unique_ptr<PlatformTraceStores> CreatePlatformTraceStores(IRegistryStore& userRegistry);
