// Soak runs of the engine, proxy switching and the cleaning worker:
//
//   soak MODE [--connections N] [--clients N] [--cycles N] [--restarts N]
//             [--stop-within-ms N] [--schemas DIR] [--work-dir DIR] [--rss-tolerance-mib N]
//             [--drain-pool] [--seed N]
//
// MODE is connections, switching, cleaning or all. Each mode prints its
// counts and the descriptor, thread and memory levels of the process at the
// start, after a warm-up and at the end, and the program exits with 1 when
// anything was wrong (each fault is described on standard error).
#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "soak.h"
#include "worker_pool.h"

namespace soak {

namespace {

constexpr std::size_t kKeptFailures = 20;

int CountEntries(const char* folder) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++n;
        }
    }
    ::closedir(dir);
    return n;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssMeaningful = false;  // the sanitizer keeps freed memory in quarantine
#else
constexpr bool kRssMeaningful = true;
#endif

std::atomic<const char*> g_lastStep{"start"};
std::atomic<std::int64_t> g_lastProgress{0};
constexpr std::int64_t kHangSeconds = 120;

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void Progress(const char* where) {
    g_lastStep.store(where);
    g_lastProgress.store(NowSeconds());
}

void StartWatchdog() {
    Progress("start");
    // Lives as long as the process; it is there at every measurement, so
    // it never shows as a thread gained or lost.
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            if (NowSeconds() - g_lastProgress.load() > kHangSeconds) {
                std::fprintf(stderr, "soak: FAIL: no progress for %lld s after \"%s\": hung\n",
                             static_cast<long long>(kHangSeconds), g_lastStep.load());
                std::fflush(stdout);
                std::_Exit(3);
            }
        }
    }).detach();
}

void Failures::Add(const std::string& what) {
    ++m_count;
    std::lock_guard lock(m_mutex);
    if (m_first.size() < kKeptFailures) {
        m_first.push_back(what);
    }
}

void Failures::Print(const char* mode) const {
    std::lock_guard lock(m_mutex);
    for (const std::string& what : m_first) {
        std::fprintf(stderr, "soak %s: FAIL: %s\n", mode, what.c_str());
    }
    if (m_count.load() > static_cast<int>(m_first.size())) {
        std::fprintf(stderr, "soak %s: ... %d failures in all\n", mode, m_count.load());
    }
}

Levels Measure() {
    ::malloc_trim(0);
    Levels levels;
    // The directory stream holds one descriptor of its own while it counts;
    // it is the same one at every measurement.
    levels.descriptors = CountEntries("/proc/self/fd");
    levels.threads = CountEntries("/proc/self/task");
    levels.parkedThreads = static_cast<int>(engine::SharedWorkerPool().IdleThreads());
    levels.rssKiB = RssKiB();
    return levels;
}

std::string Describe(const Levels& levels) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "fds %d, threads %d (%d parked in the engine's pool), RSS %.1f MiB",
                  levels.descriptors, levels.threads, levels.parkedThreads,
                  static_cast<double>(levels.rssKiB) / 1024.0);
    return text;
}

bool WaitForEngineJobs(int jobs, int timeoutMs) {
    Progress("waiting for the engine's jobs to end");
    engine::WorkerPool& pool = engine::SharedWorkerPool();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (static_cast<int>(pool.Threads() - pool.IdleThreads()) <= jobs) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace {

// Measures until `settled` holds or the time is up. A thread that has left
// the engine's pool is listed in /proc for a moment after the pool stopped
// counting it, and one on its way to park is in neither count: a single look
// could see a thread gained or lost that is not.
Levels MeasureUntil(const std::function<bool(const Levels&)>& settled, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    Levels levels = Measure();
    while (!settled(levels) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        levels = Measure();
    }
    return levels;
}

// The start/after-warm-up/end checks every mode makes, failures recorded.
void CheckLevels(const char* mode, const Levels& start, const Levels& warm, const Levels& endIn,
                 const Options& options, Failures& failures) {
    const auto asAtTheStart = [&start](const Levels& levels) {
        return levels.descriptors == start.descriptors && levels.Unparked() == start.Unparked();
    };
    Levels end = asAtTheStart(endIn) ? endIn : MeasureUntil(asAtTheStart, std::chrono::seconds(10));
    std::printf("%s: levels at the start: %s\n", mode, Describe(start).c_str());
    std::printf("%s: after the warm-up:   %s\n", mode, Describe(warm).c_str());
    std::printf("%s: at the end:          %s\n", mode, Describe(end).c_str());
    if (end.descriptors != start.descriptors) {
        failures.Add("descriptors: " + std::to_string(end.descriptors) + " at the end, " +
                     std::to_string(start.descriptors) + " at the start");
    }
    if (end.Unparked() != start.Unparked()) {
        failures.Add(
            "threads other than the pool's parked ones: " + std::to_string(end.Unparked()) +
            " at the end, " + std::to_string(start.Unparked()) + " at the start");
    }
    if (options.drainPool) {
        // Parked threads end after the pool's idle life (30 s).
        Progress("waiting for the engine's pool to drain");
        engine::WorkerPool& pool = engine::SharedWorkerPool();
        end = MeasureUntil(
            [&](const Levels& levels) {
                return pool.Threads() == 0 && levels.threads == start.Unparked();
            },
            std::chrono::seconds(45));
        std::printf("%s: pool drained:        %s\n", mode, Describe(end).c_str());
        if (end.threads != start.Unparked()) {
            failures.Add("threads after the pool drained: " + std::to_string(end.threads) + ", " +
                         std::to_string(start.Unparked()) + " unparked at the start");
        }
    }
    const double grownMiB = static_cast<double>(end.rssKiB - warm.rssKiB) / 1024.0;
    if (!kRssMeaningful) {
        std::printf("%s: RSS not checked under AddressSanitizer\n", mode);
    } else if (grownMiB > options.rssToleranceMiB) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "RSS grew by %.1f MiB after the warm-up (tolerance %.1f MiB)", grownMiB,
                      options.rssToleranceMiB);
        failures.Add(text);
    } else {
        std::printf("%s: RSS %+.1f MiB against the warm-up (tolerance %.1f MiB)\n", mode, grownMiB,
                    options.rssToleranceMiB);
    }
}

}  // namespace

int Verdict(const char* mode, const Levels& start, const Levels& warm, const Levels& end,
            const Options& options, Failures& failures) {
    CheckLevels(mode, start, warm, end, options, failures);
    failures.Print(mode);
    const bool passed = failures.Count() == 0;
    std::printf("%s: %s\n", mode, passed ? "PASS" : "FAIL");
    return passed ? 0 : 1;
}

std::uint64_t Random::Next() {
    // xorshift64*
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return m_state * 0x2545F4914F6CDD1Dull;
}

}  // namespace soak

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: soak connections|switching|cleaning|all [--connections N] [--clients N]\n"
                 "            [--cycles N] [--restarts N] [--stop-within-ms N] [--schemas DIR]\n"
                 "            [--work-dir DIR]\n"
                 "            [--rss-tolerance-mib N] [--drain-pool] [--seed N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string mode = argv[1];
    soak::Options options;
#ifdef SOAK_SCHEMAS
    options.schemas = SOAK_SCHEMAS;
#endif
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto number = [&](int& out) {
            const char* v = value();
            out = v != nullptr ? std::atoi(v) : -1;
            return out > 0;
        };
        bool ok = true;
        if (arg == "--connections") {
            ok = number(options.connections);
        } else if (arg == "--clients") {
            ok = number(options.clients);
        } else if (arg == "--cycles") {
            ok = number(options.cycles);
        } else if (arg == "--restarts") {
            ok = number(options.restarts);
        } else if (arg == "--stop-within-ms") {
            ok = number(options.stopWithinMs);
        } else if (arg == "--schemas" || arg == "--work-dir") {
            const char* v = value();
            ok = v != nullptr;
            (arg == "--schemas" ? options.schemas : options.workDir) = v != nullptr ? v : "";
        } else if (arg == "--rss-tolerance-mib") {
            const char* v = value();
            ok = v != nullptr;
            options.rssToleranceMiB = v != nullptr ? std::atof(v) : 0;
        } else if (arg == "--drain-pool") {
            options.drainPool = true;
        } else if (arg == "--seed") {
            const char* v = value();
            ok = v != nullptr;
            options.seed = v != nullptr ? std::strtoull(v, nullptr, 10) : 0;
        } else {
            ok = false;
        }
        if (!ok) {
            return Usage();
        }
    }

    soak::StartWatchdog();
    int failed = 0;
    bool known = false;
    if (mode == "connections" || mode == "all") {
        known = true;
        failed += soak::RunConnections(options) != 0 ? 1 : 0;
    }
    if (mode == "switching" || mode == "all") {
        known = true;
        failed += soak::RunSwitching(options) != 0 ? 1 : 0;
    }
    if (mode == "cleaning" || mode == "all") {
        known = true;
        failed += soak::RunCleaning(options) != 0 ? 1 : 0;
    }
    if (!known) {
        return Usage();
    }
    std::printf("soak %s: %s\n", mode.c_str(), failed == 0 ? "PASS" : "FAIL");
    return failed == 0 ? 0 : 1;
}
