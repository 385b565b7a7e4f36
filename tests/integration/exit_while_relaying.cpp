// Ends the way the program ends while browsers still load pages through it:
// the main window goes (the listener with it), then main returns and the
// process-wide settings and their store are destroyed, while relay workers
// go on filtering pages. Run by filter_integration_tests; in the sanitizer
// build a relay that touches a destroyed object is reported.
//   exit_while_relaying     (with XDG_CONFIG_HOME set to a folder of its own)
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "fake_connection_options.h"
#include "fake_main_window_view.h"
#include "fake_message_box.h"
#include "fake_trace_stores.h"
#include "loopback.h"
#include "process_registry_store.h"
#include "settings_catalogue.h"

namespace {

using namespace testsupport;

constexpr int kBrowsers = 4;
// How long the browsers get to show that pages still flow: seconds where an
// idle machine needs milliseconds.
constexpr int kFlowMs = 30000;

std::atomic<long> g_pages{0};

// Waits (bounded) until the browsers have had `more` pages after `seen`.
bool MorePages(long seen, long more) {
    return WaitFor([&] { return g_pages.load() >= seen + more; }, kFlowMs);
}

// Asks for page after page on one kept-alive connection, for as long as the
// process lives.
void Browse(std::uint16_t port) {
    net::Socket s = ConnectLoopback(port);
    const std::string get = "GET http://o.test/ HTTP/1.1\r\nHost: o.test\r\n\r\n";
    while (SendText(s, get) && !ReceiveResponse(s).empty()) {
        ++g_pages;
    }
}

}  // namespace

int main() {
    // Run at the very end, after the process-wide settings are gone: the
    // relays go on in a process that has destroyed them, as they would in a
    // slow exit, until the browsers have had a few more pages.
    std::atexit([] {
        if (!MorePages(g_pages.load(), kBrowsers)) {
            std::fprintf(stderr, "no more pages once the settings were gone\n");
            std::_Exit(1);
        }
    });
    SettingsCatalogue& settings = Settings();
    IRegistryStore& store = ProcessRegistryStore();
    // One switch stored on, the others absent, as a user leaves them.
    settings.EnableJS.Set(1);
    settings.RunFirst.Set(1);
    settings.Minimize.Set(1);
    // The upstream outlives everything here: it must answer until the end.
    auto* upstream = new LoopbackServer([](net::Socket& c) {
        const std::string body = "<script>var x = 1;</script>\n";
        const std::string page = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\n\r\n" + body;
        while (!ReceiveRequest(c).empty() && SendText(c, page)) {
        }
    });
    settings.ProxyName.Set("127.0.0.1:" + std::to_string(upstream->Port()));
    const std::uint16_t port = FreePort();
    {
        FakeMainWindowView view;
        FakeConnectionOptions browser;
        FakeMessageBox messages;
        ProxyProbe probe;
        FakeTraceStores traces;
        CMainDialog window(view, MainDialogServices{settings, store, browser, messages, probe,
                                                    traces.Stores(), "", port});
        window.OnInitDialog();
        if (!WaitFor([&] { return ConnectLoopback(port).Valid(); }, kFlowMs)) {
            std::fprintf(stderr, "the engine did not listen\n");
            return 1;
        }
        for (int i = 0; i < kBrowsers; ++i) {
            std::thread(Browse, port).detach();
        }
        if (!MorePages(0, 10)) {
            std::fprintf(stderr, "the browsers got %ld pages\n", g_pages.load());
            return 1;
        }
    }
    // The window is gone; the connections are not.
    if (!MorePages(g_pages.load(), kBrowsers)) {
        std::fprintf(stderr, "no more pages once the window was gone\n");
        return 1;
    }
    return 0;
}
