// The engine's soaks: thousands of connections through it, some cut short by
// either side, with the content filter off and on; and proxy switching
// turned on and off a thousand times while connections come and go.
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "fake_connection_options.h"
#include "fake_filter_switches.h"
#include "fake_registry_store.h"
#include "html_response_filter.h"
#include "proxy_server.h"
#include "proxy_switching.h"
#include "soak.h"

namespace soak {

namespace {

constexpr auto kListenWait = std::chrono::seconds(5);

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A resource of a random size, framing and type; every body size a browser
// sees, up to several hundred KiB.
Resource RandomResource(Random& random, bool last, Cut cut = Cut::None) {
    Resource r;
    r.seed = static_cast<std::uint32_t>(random.Next());
    const int band = static_cast<int>(random.Between(0, 99));
    r.size = band < 20   ? random.Between(0, 512)
             : band < 60 ? random.Between(513, 16 * 1024)
             : band < 85 ? random.Between(16 * 1024, 128 * 1024)
                         : random.Between(200 * 1024, 800 * 1024);
    const int framing = static_cast<int>(random.Between(0, 99));
    r.framing = framing < 50   ? Framing::Length
                : framing < 85 ? Framing::Chunked
                               : Framing::UntilClose;
    // Only the last response of a connection can end with the close, and a
    // body that ends with the close cannot be cut short.
    if (r.framing == Framing::UntilClose && (!last || cut != Cut::None)) {
        r.framing = Framing::Chunked;
    }
    r.html = random.Percent(70);
    r.cut = cut;
    return r;
}

// ---- connections ---------------------------------------------------------------

enum Behaviour { kComplete, kCloseAfterRequest, kCloseMidBody, kUpstreamCloses, kBehaviours };
constexpr const char* kBehaviourNames[kBehaviours] = {
    "complete normally", "browser closes after its request", "browser closes mid-body",
    "upstream closes early"};

struct ConnectionStats {
    std::atomic<long> behaviours[kBehaviours] = {};
    std::atomic<long> checked{0};          // responses compared byte for byte
    std::atomic<long> filteredChecked{0};  // ... of them rewritten by the filter
    std::atomic<long> cutsSeen{0};         // early closes seen to end, with the right bytes
    std::atomic<long> resets{0};           // browser closes sent as a reset
};

class ConnectionRun {
public:
    ConnectionRun(std::uint16_t port, bool filtered, std::uint64_t seed, ConnectionStats& stats,
                  Failures& failures)
        : m_port(port), m_filtered(filtered), m_seed(seed), m_stats(stats), m_failures(failures) {}

    void One(long index) {
        Progress(m_filtered ? "connections: a connection with the filter on"
                            : "connections: a connection with the filter off");
        Random random(m_seed * 1000003u + static_cast<std::uint64_t>(index));
        const int pick = static_cast<int>(random.Between(0, 99));
        const Behaviour behaviour = pick < 45   ? kComplete
                                    : pick < 60 ? kCloseAfterRequest
                                    : pick < 75 ? kCloseMidBody
                                                : kUpstreamCloses;
        ++m_stats.behaviours[behaviour];
        net::Socket s = Connect(m_port);
        if (!s.Valid()) {
            m_failures.Add("connection " + std::to_string(index) + ": the engine refused it");
            return;
        }
        ResponseReader reader(s.Get());
        const std::string who = "connection " + std::to_string(index) + " (" +
                                kBehaviourNames[behaviour] + (m_filtered ? ", filter on" : "") +
                                ") ";
        switch (behaviour) {
            case kComplete: {
                const int requests =
                    random.Percent(30) ? static_cast<int>(random.Between(2, 3)) : 1;
                for (int i = 0; i < requests; ++i) {
                    const Resource r = RandomResource(random, i + 1 == requests);
                    const Expected e = Build(r);
                    if (!SendText(s.Get(), r.Request())) {
                        m_failures.Add(who + "request " + std::to_string(i) + " could not be sent");
                        return;
                    }
                    const std::string fault = CheckResponse(r, e, reader.Read(), m_filtered);
                    if (!fault.empty()) {
                        m_failures.Add(who + fault);
                        return;
                    }
                    ++m_stats.checked;
                    m_stats.filteredChecked += m_filtered && r.html ? 1 : 0;
                }
                break;
            }
            case kCloseAfterRequest: {
                const Resource r = RandomResource(random, true);
                SendText(s.Get(), r.Request());
                if (random.Percent(50)) {
                    Abort(s);
                    ++m_stats.resets;
                }
                break;
            }
            case kCloseMidBody: {
                Resource r = RandomResource(random, true);
                r.size = random.Between(64 * 1024, 800 * 1024);
                const Expected e = Build(r);
                if (!SendText(s.Get(), r.Request())) {
                    m_failures.Add(who + "request could not be sent");
                    return;
                }
                bool timedOut = false;
                const std::size_t want = random.Between(1, e.response.size() / 2);
                const std::string got = reader.ReadSome(want, timedOut);
                if (timedOut) {
                    m_failures.Add(who + r.Path() + ": nothing more after " +
                                   std::to_string(got.size()) + " bytes");
                    return;
                }
                // A held HTML body comes reframed; everything else as sent.
                if (!(m_filtered && r.html) &&
                    std::string_view(e.response).substr(0, got.size()) != got) {
                    m_failures.Add(who + r.Path() + ": the first bytes differ");
                }
                if (random.Percent(50)) {
                    Abort(s);
                    ++m_stats.resets;
                }
                break;
            }
            case kUpstreamCloses: {
                const Cut cut = static_cast<Cut>('0' + random.Between(0, 2));
                const Resource r = RandomResource(random, true, cut);
                const Expected e = Build(r);
                if (!SendText(s.Get(), r.Request())) {
                    m_failures.Add(who + "request could not be sent");
                    return;
                }
                const Response got = reader.ReadToEnd();
                if (got.timedOut) {
                    m_failures.Add(who + r.Path() + ": the connection did not end within " +
                                   std::to_string(kClientTimeoutMs / 1000) + " s after " +
                                   std::to_string(got.raw.size()) + " bytes");
                } else if (const std::string fault = CheckCutResponse(r, e, got.raw, m_filtered);
                           !fault.empty()) {
                    m_failures.Add(who + fault);
                } else {
                    ++m_stats.cutsSeen;
                }
                break;
            }
            case kBehaviours:
                break;
        }
    }

private:
    std::uint16_t m_port;
    bool m_filtered;
    std::uint64_t m_seed;
    ConnectionStats& m_stats;
    Failures& m_failures;
};

// Runs connections [first, first + count) on `clients` threads.
void RunPhase(ConnectionRun& run, long first, long count, int clients) {
    std::atomic<long> next{first};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            for (long n; (n = next.fetch_add(1)) < first + count;) {
                run.One(n);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

bool StartEngine(CProxyServer& server, std::uint16_t upstreamPort, Failures& failures) {
    if (!server.Start(0, 1, "127.0.0.1", upstreamPort, "", "") ||
        !WaitUntil([&] { return server.IsRunning() == 1; }, kListenWait)) {
        failures.Add("the engine did not start listening");
        return false;
    }
    return true;
}

}  // namespace

int RunConnections(const Options& options) {
    const char* mode = "connections";
    Failures failures;
    ConnectionStats stats;
    const auto began = std::chrono::steady_clock::now();
    const Levels start = Measure();
    Levels warm, end;
    const long total = options.connections;
    const long warmUp = std::min(total, std::max(20L, total / 20));
    // The filter is on for the last 40 % of the connections.
    const long filterFrom = total - total * 2 / 5;
    long upstreamStuck = 0;
    {
        Upstream upstream(options.clients * 2 + 4);
        if (!upstream.Ready()) {
            std::fprintf(stderr, "soak %s: the upstream could not listen\n", mode);
            return 1;
        }
        FakeFilterSwitches switches(1, 1, 1);
        auto factory =
            std::make_shared<HtmlFilterFactory>(switches.Live(), std::make_shared<PopupCounter>());
        CProxyServer server;
        if (StartEngine(server, upstream.Port(), failures)) {
            ConnectionRun plain(static_cast<std::uint16_t>(server.ListeningPort()), false,
                                options.seed, stats, failures);
            RunPhase(plain, 0, std::min(warmUp, filterFrom), options.clients);
            if (!WaitForEngineJobs(1)) {  // the listener
                failures.Add("engine jobs still running after the warm-up");
            }
            warm = Measure();
            RunPhase(plain, warmUp, filterFrom - warmUp, options.clients);

            server.Stop();
            server.SetFilterFactory(factory);
            if (StartEngine(server, upstream.Port(), failures)) {
                ConnectionRun filtered(static_cast<std::uint16_t>(server.ListeningPort()), true,
                                       options.seed, stats, failures);
                RunPhase(filtered, filterFrom, total - filterFrom, options.clients);
            }
            server.Stop();
        }
        if (!WaitForEngineJobs(0)) {
            failures.Add("engine jobs still running 30 s after the last connection");
        }
        upstreamStuck = upstream.StuckSends();
    }
    if (upstreamStuck != 0) {
        failures.Add(std::to_string(upstreamStuck) +
                     " upstream sends blocked: the engine held connections nobody read");
    }
    end = Measure();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    std::printf("%s: %ld connections on %d client threads in %.1f s (filter on from #%ld)\n", mode,
                total, options.clients, seconds, filterFrom);
    for (int b = 0; b < kBehaviours; ++b) {
        std::printf("%s:   %-34s %ld\n", mode, kBehaviourNames[b], stats.behaviours[b].load());
    }
    std::printf(
        "%s: responses checked byte for byte: %ld (%ld rewritten by the filter); early "
        "closes seen with the bytes sent: %ld; browser resets: %ld\n",
        mode, stats.checked.load(), stats.filteredChecked.load(), stats.cutsSeen.load(),
        stats.resets.load());
    if (stats.checked.load() == 0 || stats.cutsSeen.load() == 0) {
        failures.Add("nothing was checked: no complete response or no early close came through");
    }
    return Verdict(mode, start, warm, end, options, failures);
}

// ---- proxy switching ---------------------------------------------------------------------

namespace {

class SoakHost final : public IProxySwitchingHost {
public:
    explicit SoakHost(Failures& failures) : m_failures(failures) {}
    IResponsiveWait& Waits() override { return m_wait; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        m_failures.Add("message box \"" + text + "\" / \"" + caption + "\"");
    }
    void RefreshSettingsCopies() override {}
    void RefreshControls() override {}
    void RestartCleaningWorker() override {}
    void ShowTrayIconIfHidden() override {}
    void HideMainWindow() override {}

private:
    Failures& m_failures;
    InlineWait m_wait;
};

struct SwitchingStats {
    std::atomic<long> checked{0};   // responses compared byte for byte
    std::atomic<long> heldOver{0};  // second responses on a held connection
    std::atomic<long> refused{0};   // connects while the engine was off
    std::atomic<long> dropped{0};   // connections still queued when a listener stopped
    long restartsOnOther = 0;
    long offByToggle = 0;
    long offBySave = 0;
};

// Browsers while the proxy is switched: requesters fetch one resource per
// connection; holders fetch one, hold the connection for a while (across
// switches), then fetch another on it.
class SwitchingClients {
public:
    SwitchingClients(std::uint16_t port, int requesters, int holders, std::uint64_t seed,
                     SwitchingStats& stats, Failures& failures)
        : m_port(port), m_stats(stats), m_failures(failures) {
        for (int i = 0; i < requesters + holders; ++i) {
            const bool holder = i >= requesters;
            m_threads.emplace_back([this, holder, seed, i] { Loop(holder, seed * 7919u + i); });
        }
    }
    ~SwitchingClients() {
        m_stop.store(true);
        for (std::thread& t : m_threads) {
            t.join();
        }
    }

private:
    // False when the connection was dropped before it was relayed.
    bool Fetch(net::Socket& s, ResponseReader& reader, Random& random, bool first) {
        const Resource r = RandomResource(random, false);
        const Expected e = Build(r);
        if (!SendText(s.Get(), r.Request())) {
            if (first) {
                ++m_stats.dropped;
                return false;
            }
            m_failures.Add(r.Path() + ": a held connection was cut");
            return false;
        }
        const Response got = reader.Read();
        if (first && got.raw.empty() && got.ended) {
            ++m_stats.dropped;
            return false;
        }
        Progress("switching: a client's response");
        const std::string fault = CheckResponse(r, e, got, false);
        if (!fault.empty()) {
            m_failures.Add((first ? "" : "held connection: ") + fault);
            return false;
        }
        ++m_stats.checked;
        return true;
    }

    void Loop(bool holder, std::uint64_t seed) {
        Random random(seed);
        while (!m_stop.load()) {
            net::Socket s = Connect(m_port);
            if (!s.Valid()) {
                ++m_stats.refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            ResponseReader reader(s.Get());
            if (!Fetch(s, reader, random, true) || !holder) {
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random.Between(20, 300)));
            if (Fetch(s, reader, random, false)) {
                ++m_stats.heldOver;
            }
        }
    }

    std::uint16_t m_port;
    SwitchingStats& m_stats;
    Failures& m_failures;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

std::uint16_t FreeLoopbackPort() {
    net::Socket s(net::OpenTcp());
    if (!s.Valid() || !net::BindIPv4(s.Get(), net::kLoopbackAddress, 0)) {
        return 0;
    }
    return net::LocalPort(s.Get());
}

}  // namespace

int RunSwitching(const Options& options) {
    const char* mode = "switching";
    Failures failures;
    SwitchingStats stats;
    const auto began = std::chrono::steady_clock::now();
    const Levels start = Measure();
    Levels warm, end;
    const int cycles = options.cycles;
    const int warmUp = std::min(cycles, std::max(3, cycles / 20));
    const int clientThreads = std::max(2, options.clients / 2);
    long upstreamStuck = 0;
    {
        Upstream first(16);
        Upstream second(16);
        const std::uint16_t port = FreeLoopbackPort();
        if (!first.Ready() || !second.Ready() || port == 0) {
            std::fprintf(stderr, "soak %s: the upstreams could not listen\n", mode);
            return 1;
        }
        const std::string endpoints[2] = {"127.0.0.1:" + std::to_string(first.Port()),
                                          "127.0.0.1:" + std::to_string(second.Port())};
        FakeRegistryStore store;
        SettingsCatalogue settings(store);
        FakeConnectionOptions browser;
        SoakHost host(failures);
        CProxyServer server;
        ProxySwitching switching(server, browser, settings, host, port);
        Random random(options.seed);

        auto cycle = [&](int n) {
            Progress("switching: a cycle");
            const std::string name = "cycle " + std::to_string(n) + ": ";
            const int use = static_cast<int>(random.Between(0, 1));
            settings.ProxyName.Set(endpoints[use]);
            if (switching.ToggleFlag() != 0) {
                switching.OnToggleProxy();  // left on by a save that switched off
            }
            switching.OnToggleProxy();
            if (switching.ToggleFlag() != 1 || browser.Calls().back().operation != "Set" ||
                settings.UseProxy.Get() != 1) {
                failures.Add(name + "switching on did not set the browser and UseProxy");
            }
            if (!WaitUntil([&] { return server.IsRunning() == 1; }, kListenWait)) {
                failures.Add(name + "the engine is not listening after switching on");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random.Between(0, 15)));
            if (random.Percent(30)) {
                // Saved on the Settings page with the other proxy: a restart.
                switching.SetCachedUseProxy(1);
                switching.ApplyProxySelection(endpoints[1 - use]);
                ++stats.restartsOnOther;
                if (!WaitUntil([&] { return server.IsRunning() == 1; }, kListenWait) ||
                    settings.ProxyName.Get() != endpoints[1 - use]) {
                    failures.Add(name + "the engine is not listening after the restart");
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(random.Between(0, 15)));
            }
            if (random.Percent(50)) {
                switching.OnToggleProxy();
                ++stats.offByToggle;
            } else {
                switching.SetCachedUseProxy(0);
                switching.ApplyProxySelection(endpoints[use]);
                ++stats.offBySave;
            }
            if (server.IsRunning() != 0 || browser.Calls().back().operation != "Disable" ||
                settings.UseProxy.Get() != 0) {
                failures.Add(name + "switching off left the engine or the browser on");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random.Between(0, 5)));
        };

        {
            SwitchingClients clients(port, clientThreads, clientThreads, options.seed, stats,
                                     failures);
            for (int n = 0; n < warmUp; ++n) {
                cycle(n);
            }
        }
        if (!WaitForEngineJobs(0)) {
            failures.Add("engine jobs still running after the warm-up");
        }
        warm = Measure();
        {
            SwitchingClients clients(port, clientThreads, clientThreads, options.seed + 1, stats,
                                     failures);
            for (int n = warmUp; n < cycles; ++n) {
                cycle(n);
            }
        }
        if (!WaitForEngineJobs(0)) {
            failures.Add("engine jobs still running 30 s after the last cycle");
        }
        upstreamStuck = first.StuckSends() + second.StuckSends();
    }
    if (upstreamStuck != 0) {
        failures.Add(std::to_string(upstreamStuck) + " upstream sends blocked");
    }
    end = Measure();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%s: %d on/off cycles in %.1f s with %d requesting and %d holding client threads\n",
                mode, cycles, seconds, clientThreads, clientThreads);
    std::printf("%s:   restarts on the other proxy %ld, off by the toggle %ld, off by a save %ld\n",
                mode, stats.restartsOnOther, stats.offByToggle, stats.offBySave);
    std::printf(
        "%s: responses checked byte for byte: %ld (%ld on connections held across "
        "switches); refused while off: %ld; dropped while queued at a stop: %ld\n",
        mode, stats.checked.load(), stats.heldOver.load(), stats.refused.load(),
        stats.dropped.load());
    if (stats.checked.load() == 0 || stats.heldOver.load() == 0) {
        failures.Add("nothing was checked: no response, or none on a held connection");
    }
    return Verdict(mode, start, warm, end, options, failures);
}

}  // namespace soak
