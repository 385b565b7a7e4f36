#include "proxy_generator_worker.h"

#include "download_text.h"
#include "vendor_url.h"

ProxyGeneratorWorker::~ProxyGeneratorWorker() {
    Stop();
}

std::uint32_t ProxyGeneratorWorker::Run(std::uint32_t) {
    // Whatever the answer, nothing follows from it.
    DownloadText(VendorUrl(kProxyGeneratorUrlPath), StopToken());
    return 0;
}

bool FetchProxyListAndRequestGenerator(ProxyListFile& file, ISelectionList& list,
                                       ProxyGeneratorWorker& worker) {
    if (!file.FetchProxyList(list)) {
        return false;
    }
    worker.Start(0);
    return true;
}
