// Cleaning cycles with every option on, over the profiles of a home folder,
// timed:
//   privacy_bench_clean HOME [ENTRIES_PER_COMMIT [CYCLES]]
// ENTRIES_PER_COMMIT 0 (the default) is the cleaner as shipped; 1 commits
// every deleted entry, entry by entry. CYCLES (default 1) cycles run back to
// back, as the worker runs them every ten seconds.
// Prints "cycle N wall <s> cpu <s>" for each cycle, and on standard error each
// step's wall time of the first.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "browser_trace_store_linux.h"
#include "cleaning_steps.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HOME [ENTRIES_PER_COMMIT [CYCLES]]\n", argv[0]);
        return 2;
    }
    BrowserHome home;
    home.home = argv[1];
    home.configHome = home.home / ".config";
    home.cacheHome = home.home / ".cache";
    DatabaseAccess access;
    access.entriesPerCommit = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
    long cycles = argc > 3 ? std::atol(argv[3]) : 1;
    BrowserTraceStore store(home, access);
    TraceStores stores = store.Stores();

    for (long cycle = 1; cycle <= cycles; ++cycle) {
        double cpu = CpuSeconds();
        auto start = std::chrono::steady_clock::now();
        auto step = [&stores, cycle, last = start](
                        const char* name, void (*run)(const TraceStores&, std::stop_token)) mutable {
            run(stores, {});
            auto now = std::chrono::steady_clock::now();
            if (cycle == 1) {
                std::fprintf(stderr, "%s %.3f\n", name,
                             std::chrono::duration<double>(now - last).count());
            }
            last = now;
        };
        // The cycle's order with all four options on.
        step("cookies", &DeleteCookies);
        step("history", &DeleteHistoryEntries);
        step("temporary-files", &DeleteTemporaryFiles);
        step("typed-addresses", &BlankTypedAddresses);
        step("full-sweep", &FullSweep);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("cycle %ld wall %.4f cpu %.4f\n", cycle, took.count(), CpuSeconds() - cpu);
    }
    return 0;
}
