#include "platform_trace_stores.h"
#include "registry_typed_addresses.h"
#include "url_cache_win32.h"

namespace {

class Win32TraceStores final : public PlatformTraceStores {
public:
    explicit Win32TraceStores(IRegistryStore& userRegistry) : m_typedAddresses(userRegistry) {}
    TraceStores Stores() override { return TraceStores{m_cache, m_history, m_typedAddresses}; }

private:
    WinInetUrlCache m_cache;
    UrlHistoryStore m_history;
    RegistryTypedAddresses m_typedAddresses;
};

}  // namespace

std::unique_ptr<PlatformTraceStores> CreatePlatformTraceStores(IRegistryStore& userRegistry) {
    return std::make_unique<Win32TraceStores>(userRegistry);
}
