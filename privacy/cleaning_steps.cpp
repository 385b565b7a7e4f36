#include "cleaning_steps.h"

namespace {

using EntryTest = bool (*)(std::uint32_t type);

bool AnyEntry(std::uint32_t) {
    return true;
}

bool ContentEntry(std::uint32_t type) {
    return (type & kCookieOrHistoryMask) == 0;
}

// Deletes each accepted entry as soon as it is read, before the next one is
// asked for; an entry that will not go is left for the next cycle. A step
// that takes every entry lets the store delete them all at once.
void CleanWalk(IUrlCache& cache, const char* pattern, EntryTest accept,
               const std::stop_token& stop) {
    std::unique_ptr<IUrlCacheWalk> walk = cache.Walk(pattern);
    if (!walk) {
        return;
    }
    if (accept == &AnyEntry) {
        walk->DeleteAll(stop);
        return;
    }
    while (!stop.stop_requested()) {
        const UrlCacheEntry* entry = walk->Next();
        if (entry == nullptr) {
            break;
        }
        if (accept(entry->type)) {
            walk->DeleteCurrent();
        }
    }
}

}  // namespace

void DeleteCookies(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, kCookiePattern, &AnyEntry, stop);
}

void DeleteHistoryEntries(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, kHistoryPattern, &AnyEntry, stop);
    if (!stop.stop_requested()) {
        stores.history.Clear();
    }
}

void DeleteTemporaryFiles(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, nullptr, &ContentEntry, stop);
}

void FullSweep(const TraceStores& stores, std::stop_token stop) {
    CleanWalk(stores.cache, nullptr, &AnyEntry, stop);
    if (!stop.stop_requested()) {
        stores.history.Clear();
    }
}

void BlankTypedAddresses(const TraceStores& stores, std::stop_token stop) {
    if (!stop.stop_requested()) {
        stores.typedAddresses.Blank();
    }
}
