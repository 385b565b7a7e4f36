#include "vendor_url.h"

#include <cstdlib>

#ifndef QUILLON_DEFAULT_VENDOR_URL
#error "QUILLON_DEFAULT_VENDOR_URL is set by the build"
#endif

std::string VendorUrl(std::string_view path) {
    const char* variable = std::getenv(kVendorUrlVariable);
    std::string base =
        variable != nullptr && *variable != '\0' ? variable : QUILLON_DEFAULT_VENDOR_URL;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base.append(path);
}
