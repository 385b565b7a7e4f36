// Loads a page whose script opens a pop-up in headless Chromium, through the
// engine with the pop-up switch on or off, and prints what the browser ended
// up with. Meant to run inside a network namespace of its own (unshare -n),
// so the browser cannot reach anything but loopback:
//   filter_browser_check on|off
// prints the dumped DOM, then a line "popups N".
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_filter_switches.h"
#include "html_response_filter.h"
#include "loopback.h"
#include "peers.h"
#include "proxy_server.h"

extern char** environ;

namespace {

using namespace testsupport;

const std::string kPage =
    "<html><head><title>untouched</title></head><body>"
    "<script>document.title = 'before'; window.open('about:blank'); document.title = 'opened';"
    "</script></body></html>";

// Runs argv, returning its standard output.
std::string Capture(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (rc == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (rc == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: filter_browser_check on|off\n");
        return 2;
    }
    const bool on = std::strcmp(argv[1], "on") == 0;
    // The upstream proxy: answers the page, and nothing else (the favicon).
    LoopbackServer upstream([](net::Socket& c) {
        for (std::string request; !(request = ReceiveRequest(c)).empty();) {
            if (request.starts_with("GET http://page.test/popup.html ")) {
                SendText(c, HttpResponse(kPage, "Content-Type: text/html\r\n"));
            } else {
                SendText(c, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            }
        }
    });
    FakeFilterSwitches switches(0, 0, on ? 1 : 0);
    auto counter = std::make_shared<PopupCounter>();
    CProxyServer engine;
    engine.SetFilterFactory(std::make_shared<HtmlFilterFactory>(switches.Live(), counter));
    if (!engine.Start(0, 1, "127.0.0.1", upstream.Port(), "", "") ||
        !WaitFor([&] { return engine.IsRunning() == 1; })) {
        std::fprintf(stderr, "engine did not start\n");
        return 1;
    }
    TempDir profile;
    const std::string dom =
        Capture({"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                 "--proxy-server=127.0.0.1:" + std::to_string(engine.ListeningPort()),
                 "--proxy-bypass-list=<-loopback>", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
                 "--user-data-dir=" + profile.Path() + "/chromium", "--dump-dom",
                 "http://page.test/popup.html"});
    std::printf("%s\npopups %u\n", dom.c_str(), switches.FoldedPopups(*counter));
    return 0;
}
