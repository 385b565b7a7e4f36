// After each fetch of the proxy list, one GET of the vendor's proxy-generator
// endpoint on a background thread; the answer is not used.
#pragma once

#include <cstdint>

#include "proxy_list.h"
#include "worker_thread.h"

class ProxyGeneratorWorker : public WorkerThread {
public:
    ProxyGeneratorWorker() = default;
    // A request still running is cancelled, not waited for.
    ~ProxyGeneratorWorker() override;

protected:
    std::uint32_t Run(std::uint32_t argument) override;
};

// A fetch of the proxy list, then, once the list is stored, the generator
// request: the Settings page's sequence at the first start and for "Update
// Proxy List Now". False when a file error ended it; no request is sent then.
bool FetchProxyListAndRequestGenerator(ProxyListFile& file, ISelectionList& list,
                                       ProxyGeneratorWorker& worker);
