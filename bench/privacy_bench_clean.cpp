// One cleaning cycle with every option on, over the profiles of a home
// folder, timed:
//   privacy_bench_clean HOME [ENTRIES_PER_COMMIT]
// ENTRIES_PER_COMMIT 0 (the default) is the cleaner as shipped: one
// transaction per database and walk; 1 commits every deleted entry.
// Prints "seconds <s>", and each step's time on standard error.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "browser_trace_store_linux.h"
#include "cleaning_steps.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HOME [ENTRIES_PER_COMMIT]\n", argv[0]);
        return 2;
    }
    BrowserHome home;
    home.home = argv[1];
    home.configHome = home.home / ".config";
    home.cacheHome = home.home / ".cache";
    DatabaseAccess access;
    access.entriesPerCommit = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
    BrowserTraceStore store(home, access);
    TraceStores stores = store.Stores();

    auto start = std::chrono::steady_clock::now();
    auto step = [&stores, last = start](const char* name,
                                        void (*run)(const TraceStores&, std::stop_token)) mutable {
        run(stores, {});
        auto now = std::chrono::steady_clock::now();
        std::fprintf(stderr, "%s %.3f\n", name, std::chrono::duration<double>(now - last).count());
        last = now;
    };
    // The cycle's order with all four options on.
    step("cookies", &DeleteCookies);
    step("history", &DeleteHistoryEntries);
    step("temporary-files", &DeleteTemporaryFiles);
    step("typed-addresses", &BlankTypedAddresses);
    step("full-sweep", &FullSweep);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("seconds %.3f\n", took.count());
    return 0;
}
