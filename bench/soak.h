// Long runs of the engine, proxy switching and the cleaning worker that look
// for what only shows after thousands of operations: descriptors, threads or
// memory that are never given back, connections that hang, databases that a
// stop in the middle of a cycle leaves damaged.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "socket_shim.h"

namespace soak {

struct Options {
    int connections = 10000;  // connections mode
    int clients = 6;          // client threads of the connections mode
    int cycles = 1000;        // proxy switching on/off cycles
    int restarts = 1000;      // cleaning worker restarts
    int stopWithinMs = 250;   // a restart is stopped after a random time up to this
    std::string schemas;      // the browsers' schema dumps (cleaning mode)
    std::string workDir = "/tmp";
    double rssToleranceMiB = 16;
    // Waits until the engine's parked threads have all timed out, and then
    // expects the thread count of the start, not only the unparked one.
    bool drainPool = false;
    std::uint64_t seed = 1;
};

// What a mode finds wrong; every failure is counted, the first few are kept
// to be printed.
class Failures {
public:
    void Add(const std::string& what);
    int Count() const { return m_count.load(); }
    void Print(const char* mode) const;

private:
    std::atomic<int> m_count{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_first;
};

// Resources of this process at one moment.
struct Levels {
    int descriptors = 0;
    int threads = 0;
    int parkedThreads = 0;  // idle threads of the engine's pool
    long rssKiB = 0;
    int Unparked() const { return threads - parkedThreads; }
};
// Measures after giving freed memory back to the system.
Levels Measure();
std::string Describe(const Levels& levels);

// Marks progress for the watchdog, which ends the program with a message
// naming the last step when nothing progresses for two minutes: a hang.
void Progress(const char* where);
void StartWatchdog();

// Waits (bounded) until the engine's pool runs no more than `jobs` jobs.
bool WaitForEngineJobs(int jobs, int timeoutMs = 30000);
// A mode's end: checks descriptors, threads and RSS against the start and the
// warm-up, prints the failures and PASS or FAIL, and gives the exit status.
int Verdict(const char* mode, const Levels& start, const Levels& warm, const Levels& end,
            const Options& options, Failures& failures);

// A small deterministic generator, so that a run can be repeated by its seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t Next();
    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
        return low + Next() % (high - low + 1);
    }
    bool Percent(int p) { return static_cast<int>(Next() % 100) < p; }

private:
    std::uint64_t m_state;
};

// ---- what the stand-in upstream serves ------------------------------------

enum class Framing : char { Length = 'l', Chunked = 'c', UntilClose = 'u' };
// Where the upstream ends a response early: not at all, before the head,
// inside it, or inside the body.
enum class Cut : char { None = 'n', BeforeHead = '0', MidHead = '1', MidBody = '2' };

// One resource, named by its path; everything the upstream sends for it
// follows from the path.
struct Resource {
    std::uint32_t seed = 0;
    std::size_t size = 0;  // the body is at least this long
    Framing framing = Framing::Length;
    bool html = true;
    Cut cut = Cut::None;

    std::string Path() const;
    static bool FromPath(std::string_view path, Resource& out);
    std::string Request(bool keepAlive = true) const;
};

struct Expected {
    std::string response;   // everything the upstream sends for a full response
    std::string content;    // the body without its transfer coding
    std::string filtered;   // the body as the content filter rewrites it
    std::size_t cutAt = 0;  // bytes sent before an early close (cut resources)
};
Expected Build(const Resource& resource);

// Serves proxy-form GETs of resources on a free loopback port, with a fixed
// number of threads that each take one connection at a time.
class Upstream {
public:
    explicit Upstream(int threads);
    ~Upstream();
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;
    std::uint16_t Port() const { return m_port; }
    bool Ready() const { return m_port != 0; }
    long Served() const { return m_served.load(); }
    // Sends that did not finish within their time-out: the engine kept a
    // connection open that nobody reads.
    long StuckSends() const { return m_stuckSends.load(); }

private:
    void Serve();
    void Handle(net::Socket& connection);

    net::Socket m_listening;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<long> m_served{0};
    std::atomic<long> m_stuckSends{0};
    std::vector<std::thread> m_threads;
};

// ---- the browser side -------------------------------------------------------

inline constexpr int kClientTimeoutMs = 15000;

net::Socket Connect(std::uint16_t port);
bool SendText(net::SocketHandle s, std::string_view text);
// Closes with a reset instead of a FIN.
void Abort(net::Socket& s);

struct Response {
    std::string raw;      // head and body as received
    std::string content;  // the body without its transfer coding
    std::string contentType;
    int status = 0;
    bool complete = false;  // the framing said where it ends, and it ended there
    bool timedOut = false;  // a receive waited for kClientTimeoutMs
    bool ended = false;     // the connection ended (EOF or reset)
};

// Reads from a connection, keeping what arrived past one response for the next.
class ResponseReader {
public:
    explicit ResponseReader(net::SocketHandle s) : m_socket(s) {}
    // One whole response.
    Response Read();
    // Everything until the connection ends.
    Response ReadToEnd();
    // At least `count` bytes (fewer when the connection ends first).
    std::string ReadSome(std::size_t count, bool& timedOut);

private:
    // >0 bytes appended, 0 end, -1 time-out, -2 other error (a reset).
    int Fill();

    net::SocketHandle m_socket;
    std::string m_buffer;
};

// Whether a response is what the upstream sent for `resource`, through the
// filter or not; an empty result means it is.
std::string CheckResponse(const Resource& resource, const Expected& expected,
                          const Response& response, bool filtered);
// The same for a response the upstream cut short by closing: everything that
// came before the close, as it came; or, for an HTML body the filter was
// rewriting, that body rewritten as far as it came, in chunks, the last chunk
// only when the close was the body's own end.
std::string CheckCutResponse(const Resource& resource, const Expected& expected,
                             std::string_view raw, bool filtered);

// ---- the modes ----------------------------------------------------------------

int RunConnections(const Options& options);
int RunSwitching(const Options& options);
int RunCleaning(const Options& options);

}  // namespace soak
