#include "browser_trace_store_linux.h"
#include "platform_trace_stores.h"

namespace {

class LinuxTraceStores final : public PlatformTraceStores {
public:
    LinuxTraceStores() : m_store(BrowserHome::FromEnvironment()) {}
    TraceStores Stores() override { return m_store.Stores(); }

private:
    BrowserTraceStore m_store;
};

}  // namespace

std::unique_ptr<PlatformTraceStores> CreatePlatformTraceStores(IRegistryStore&) {
    return std::make_unique<LinuxTraceStores>();
}
