// proxy_check_run APPDIR: the list check as the program runs it, for
// bench/catalogue_check_bench.sh. The entries are the Settings page's (the
// stored proxylist.txt of APPDIR, sorted, each once), the results of an
// earlier check come from proxycheck.txt, the check runs on a worker thread
// and hands each result to the "window" (this main thread) through a queue,
// which keeps them in the table and writes proxycheck.txt at the end. The
// judge is the vendor's (QUILLON_VENDOR_URL). Prints what it found.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "message_box.h"
#include "proxy_check_file.h"
#include "proxy_entries.h"
#include "proxy_list.h"

namespace {

// Reading the stored list shows no message; the program's window would.
class NoMessages final : public IMessageBox {
public:
    void Show(const std::string&, const std::string&, MessageIcon) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: proxy_check_run APPDIR/\n", stderr);
        return 2;
    }
    const std::string appPath = argv[1];
    const auto start = std::chrono::steady_clock::now();
    NoMessages messages;
    std::string text;
    if (ProxyListFile(appPath, messages).ReadStoredList(text) != FileError::None) {
        std::fprintf(stderr, "proxy_check_run: no list in %s\n", appPath.c_str());
        return 1;
    }
    const ProxyEntries listed = WithEntriesOf(ProxyEntries(), text);
    const std::vector<std::string> entries(listed.begin(), listed.end());
    ProxyCheckTable table;
    ReadProxyCheckFile(appPath, table);

    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<ProxyCheckResult> queue;
    bool finished = false;
    ProxyCheckRun run;
    std::jthread worker([&](std::stop_token stop) {
        run = CheckProxies(entries, {}, stop, [&](std::size_t, const ProxyCheckResult& result) {
            std::lock_guard lock(mutex);
            queue.push_back(result);
            arrived.notify_one();
        });
        std::lock_guard lock(mutex);
        finished = true;
        arrived.notify_one();
    });
    int counts[3] = {0, 0, 0};
    for (std::unique_lock lock(mutex);;) {
        arrived.wait(lock, [&] { return finished || !queue.empty(); });
        while (!queue.empty()) {
            ++counts[static_cast<int>(queue.front().state)];
            table.Put(queue.front());
            queue.pop_front();
        }
        if (finished) {
            break;
        }
    }
    worker.join();
    const FileError written = WriteProxyCheckFile(appPath, table);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("entries %zu alive %d dead %d bad %d own %s best %s written %s seconds %.2f\n",
                entries.size(), counts[0], counts[1], counts[2],
                run.ownAddress.empty() ? "-" : run.ownAddress.c_str(),
                BestEntry(table, "").value_or("-").c_str(),
                written == FileError::None ? "yes" : "no", seconds);
    return run.outcome == ProxyCheckRun::Outcome::kDone ? 0 : 1;
}
