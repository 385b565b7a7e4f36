#include "cleaning_steps.h"

namespace {

// Deletes each entry that has none of skipTypes as soon as it is read, before
// the next one is asked for (or all of them at once where the store can); an
// entry that will not go is left for the next cycle.
void CleanWalk(IUrlCache& cache, const char* pattern, std::uint32_t skipTypes,
               const std::stop_token& stop) {
    if (std::unique_ptr<IUrlCacheWalk> walk = cache.Walk(pattern)) {
        walk->DeleteAll(stop, skipTypes);
    }
}

}  // namespace

void DeleteCookies(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, kCookiePattern, 0, stop);
}

void DeleteHistoryEntries(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, kHistoryPattern, 0, stop);
    if (!stop.stop_requested()) {
        stores.history.Clear();
    }
}

void DeleteTemporaryFiles(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, nullptr, kCookieOrHistoryMask, stop);
}

void FullSweep(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, nullptr, 0, stop);
    if (!stop.stop_requested()) {
        stores.history.Clear();
    }
}

void BlankTypedAddresses(const TraceStores& stores, std::stop_token stop) {
    if (!stop.stop_requested()) {
        stores.typedAddresses.Blank();
    }
}
