#include "hostile_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>

#include "loopback.h"
#include "own_network_namespace.h"
#include "unique_fd.h"

namespace testsupport {

namespace {

constexpr std::array<std::string_view, kBehaviours.size()> kNames = {
    "refuses", "closes", "silent", "garbage", "reset", "trickle", "endless-head", "ok",
};

// A plain bind, without the shim's SO_REUSEADDR: while this socket holds the
// port, no other socket can bind it, with or without that option.
bool BindExclusive(net::SocketHandle s, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(net::kLoopbackAddress);
    return ::bind(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

bool Send(net::SocketHandle s, std::string_view text) {
    return net::SendAll(s, text.data(), text.size());
}

// Reads the request head (a body, if any, is not waited for); false when the
// stream ends or fails before it is whole.
bool ReadHead(net::SocketHandle s) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int n = net::Receive(s, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// Ends the sending side and reads until the client closes, so that what it
// still sends cannot turn the close into a reset before it has read ours.
void Finish(net::SocketHandle s) {
    net::ShutdownSend(s);
    char buffer[4096];
    while (net::Receive(s, buffer, sizeof buffer) > 0) {
    }
}

std::string Garbage() {
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(kGarbageLength, '\0');
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(byte(random));
    }
    return bytes;  // a NUL first: no client can take it for a status line
}

int Unsent(net::SocketHandle s) {
    int bytes = 0;
    return ::ioctl(static_cast<int>(s), SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}

// Releases the file actions of posix_spawn.
class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

// Runs one nft command line (its statements apply all or none); false with
// nft's words when it fails.
bool RunNft(std::string commands, std::string& errors) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        errors = "no pipe for nft";
        return false;
    }
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 1);
    posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 2);
    // /usr/sbin is on root's path, but not always on a test runner's.
    std::string program = ::access("/usr/sbin/nft", X_OK) == 0 ? "/usr/sbin/nft" : "nft";
    char* argv[] = {program.data(), commands.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv, environ);
    writeEnd.Reset();
    if (spawned != 0) {
        errors = spawned == ENOENT ? "nft is missing (scripts/setup.sh installs nftables)"
                                   : std::string("nft does not start: ") + std::strerror(spawned);
        return false;
    }
    std::string output;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(readEnd.Get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        output.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    errors = "nft failed: " + output;
    return false;
}

}  // namespace

std::string_view BehaviourName(Behaviour behaviour) {
    return kNames[static_cast<std::size_t>(behaviour)];
}

std::optional<Behaviour> BehaviourNamed(std::string_view name) {
    for (Behaviour b : kBehaviours) {
        if (BehaviourName(b) == name) {
            return b;
        }
    }
    return std::nullopt;
}

HostilePeer::HostilePeer(HostileOptions options) : m_options(std::move(options)) {}

HostilePeer::~HostilePeer() {
    Stop();
}

std::uint16_t HostilePeer::Serve(Behaviour behaviour, std::uint16_t port) {
    net::Socket s(net::OpenTcp());
    const bool ready = s.Valid() && (behaviour == Behaviour::kRefuses
                                         ? BindExclusive(s.Get(), port)
                                         : net::BindIPv4(s.Get(), net::kLoopbackAddress, port) &&
                                               net::Listen(s.Get(), 128));
    if (!ready) {
        return 0;
    }
    std::lock_guard lock(m_mutex);
    if (m_stopping) {
        return 0;
    }
    Listener& listener = m_listeners.emplace_back(behaviour, net::LocalPort(s.Get()));
    listener.socket.store(s.Release());
    if (behaviour != Behaviour::kRefuses) {
        listener.acceptor = std::thread([this, &listener] { AcceptLoop(listener); });
    }
    return listener.port;
}

int HostilePeer::Accepted(Behaviour behaviour) const {
    std::lock_guard lock(m_mutex);
    int accepted = 0;
    for (const Listener& listener : m_listeners) {
        if (listener.behaviour == behaviour) {
            accepted += listener.accepted.load();
        }
    }
    return accepted;
}

void HostilePeer::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (Listener& listener : m_listeners) {
            net::InterruptAccept(listener.socket);
        }
        for (Connection& connection : m_connections) {
            if (connection.socket != net::kNoSocket) {
                net::ShutdownBoth(connection.socket);
            }
        }
    }
    m_wake.notify_all();
    // Neither list changes any more: Serve and the acceptors see m_stopping.
    for (Listener& listener : m_listeners) {
        if (listener.acceptor.joinable()) {
            listener.acceptor.join();
        }
        net::CloseOnce(listener.socket);
    }
    for (Connection& connection : m_connections) {
        if (connection.thread.joinable()) {
            connection.thread.join();
        }
    }
}

void HostilePeer::AcceptLoop(Listener& listener) {
    for (;;) {
        net::Socket accepted(net::Accept(listener.socket.load()));
        if (!accepted.Valid()) {
            // Stopped, or out of descriptors for a moment.
            if (!Pause(10)) {
                return;
            }
            continue;
        }
        ++listener.accepted;
        std::list<Connection> finished;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return;
            }
            for (auto at = m_connections.begin(); at != m_connections.end();) {
                const auto next = std::next(at);
                if (at->finished.load()) {
                    finished.splice(finished.end(), m_connections, at);
                }
                at = next;
            }
            Connection& connection = m_connections.emplace_back();
            connection.socket = accepted.Release();
            try {
                connection.thread = std::thread(
                    [this, &connection, b = listener.behaviour] { Run(b, connection); });
            } catch (const std::system_error&) {
                net::Close(connection.socket);
                m_connections.pop_back();
            }
        }
        for (Connection& connection : finished) {
            connection.thread.join();
        }
    }
}

void HostilePeer::Run(Behaviour behaviour, Connection& connection) {
    const bool reset = Meet(behaviour, connection.socket);
    {
        // Under the lock: Stop must never shut down a number reused meanwhile.
        std::lock_guard lock(m_mutex);
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(static_cast<int>(connection.socket), SOL_SOCKET, SO_LINGER, &abort,
                         sizeof abort);
        }
        net::Close(connection.socket);
        connection.socket = net::kNoSocket;
    }
    connection.finished.store(true);
}

bool HostilePeer::Meet(Behaviour behaviour, net::SocketHandle s) {
    if (behaviour == Behaviour::kCloses) {
        return false;
    }
    char buffer[4096];
    if (behaviour == Behaviour::kSilent) {
        while (net::Receive(s, buffer, sizeof buffer) > 0) {
        }
        return false;
    }
    // A client that never sends must not hold a thread for ever.
    net::SetReceiveTimeout(s, kReceiveTimeoutMs);
    net::SetNoDelay(s);
    if (!ReadHead(s)) {
        return false;
    }
    switch (behaviour) {
        case Behaviour::kGarbage:
            Send(s, Garbage());
            break;
        case Behaviour::kResetMidBody:
            Send(s,
                 "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                     std::to_string(kResetAnnounced) + "\r\n\r\n" + std::string(kResetSent, 'x'));
            WaitFor([&] { return Unsent(s) == 0 || Stopping(); });
            return true;
        case Behaviour::kTrickle: {
            const std::string response =
                HttpResponse("trickled\n", "Content-Type: text/plain\r\nConnection: close\r\n");
            for (char c : response) {
                if (!Send(s, std::string_view(&c, 1)) || !Pause(m_options.trickleIntervalMs)) {
                    return false;
                }
            }
            break;
        }
        case Behaviour::kEndlessHead: {
            bool sent = Send(s, "HTTP/1.1 200 OK\r\n");
            for (int line = 1; sent && Pause(m_options.headLineIntervalMs); ++line) {
                sent = Send(s, "X-Line-" + std::to_string(line) + ": more\r\n");
            }
            return false;
        }
        case Behaviour::kOk:
            Send(s, HttpResponse(m_options.okBody,
                                 "Content-Type: text/plain\r\nConnection: close\r\n"));
            break;
        default:
            return false;
    }
    Finish(s);
    return false;
}

bool HostilePeer::Pause(int milliseconds) {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_stopping; });
}

bool HostilePeer::Stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

Blackhole::Blackhole(int count) {
    if (count < 1 || count > 1024) {
        m_whyNot = "a blackhole has 1 to 1024 ports";
        return;
    }
    if (!InOwnNetworkNamespace(&m_whyNot)) {
        return;
    }
    if (!HoldPorts(count)) {
        m_whyNot = "no range of " + std::to_string(count) + " free loopback ports";
        return;
    }
    static std::atomic<int> made{0};
    const std::string table =
        "quillon_blackhole_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    const std::string last = std::to_string(m_first + count - 1);
    const std::string ports = count == 1 ? last : std::to_string(m_first) + "-" + last;
    // Only a bare SYN: the SYN-ACK a client on one of these ports would get
    // from elsewhere passes.
    if (!RunNft("add table inet " + table + "; add chain inet " + table +
                    " in { type filter hook input priority 0 ; }; add rule inet " + table +
                    " in ip daddr 127.0.0.1 tcp dport " + ports +
                    " tcp flags & (syn | ack) == syn drop",
                m_whyNot)) {
        m_held.clear();
        m_first = 0;
        return;
    }
    m_table = table;
}

Blackhole::~Blackhole() {
    std::string errors;
    if (Made()) {
        RunNft("delete table inet " + m_table, errors);
    }
}

std::uint16_t Blackhole::Port(int index) const {
    return Made() && index >= 0 && index < Count() ? static_cast<std::uint16_t>(m_first + index)
                                                   : 0;
}

bool Blackhole::HoldPorts(int count) {
    // Below Linux's range for outgoing connections (from 32768), so that
    // clients rarely compete for them.
    for (int first = 31000; first + count <= 65536; first += count) {
        m_held.clear();
        for (int port = first; port < first + count; ++port) {
            net::Socket s(net::OpenTcp());
            if (!s.Valid() || !BindExclusive(s.Get(), static_cast<std::uint16_t>(port))) {
                break;
            }
            m_held.push_back(std::move(s));
        }
        if (static_cast<int>(m_held.size()) == count) {
            m_first = static_cast<std::uint16_t>(first);
            return true;
        }
    }
    m_held.clear();
    return false;
}

}  // namespace testsupport
