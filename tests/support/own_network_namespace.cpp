#include "own_network_namespace.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "unique_fd.h"

namespace testsupport {

namespace {

constexpr const char* kSelf = "/proc/self/ns/net";

// "net:[inode]"; empty when it cannot be read (pid 1's, for one, needs more
// than root in some sandboxes).
std::string NamespaceId(const char* path) {
    char id[64];
    const ssize_t n = ::readlink(path, id, sizeof id);
    return n > 0 ? std::string(id, static_cast<std::size_t>(n)) : std::string();
}

// A namespace made by unshare has loopback alone; the machine's has more.
bool OnlyLoopback() {
    std::ifstream devices("/proc/self/net/dev");
    std::string line;
    std::getline(devices, line);  // two lines of headings
    std::getline(devices, line);
    int seen = 0;
    while (std::getline(devices, line)) {
        std::istringstream fields(line.substr(0, line.find(':')));
        std::string name;
        fields >> name;
        if (name != "lo") {
            return false;
        }
        ++seen;
    }
    return seen == 1;
}

bool Fail(std::string* whyNot, const std::string& reason) {
    if (whyNot != nullptr) {
        *whyNot = reason;
    }
    return false;
}

bool BringLoopbackUp() {
    UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (!s.Valid() || ::ioctl(s.Get(), SIOCGIFFLAGS, &request) != 0) {
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    return ::ioctl(s.Get(), SIOCSIFFLAGS, &request) == 0;
}

}  // namespace

bool InOwnNetworkNamespace(std::string* whyNot) {
    const char* outer = std::getenv(kOuterNetworkNamespaceVariable);
    const std::string self = NamespaceId(kSelf);
    if (outer == nullptr) {
        return Fail(whyNot, std::string("not in a network namespace of the test's own (") +
                                kOuterNetworkNamespaceVariable + " is not set)");
    }
    if (self.empty() || self == outer) {
        return Fail(whyNot, "still in the network namespace " + std::string(outer));
    }
    if (self == NamespaceId("/proc/1/ns/net")) {
        return Fail(whyNot, "in the network namespace of pid 1");
    }
    if (!OnlyLoopback()) {
        return Fail(whyNot, "this network namespace has interfaces besides loopback");
    }
    return true;
}

bool EnterOwnNetworkNamespace(std::string* whyNot) {
    if (InOwnNetworkNamespace()) {
        return true;
    }
    const std::string outer = NamespaceId(kSelf);
    // Kept open to come back to, should loopback not come up in the new one.
    UniqueFd before(::open(kSelf, O_RDONLY | O_CLOEXEC));
    if (outer.empty() || !before.Valid()) {
        return Fail(whyNot, "cannot read /proc/self/ns/net");
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        return Fail(whyNot, std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno) +
                                " (a network namespace needs root)");
    }
    if (!BringLoopbackUp()) {
        const std::string reason =
            std::string("loopback does not come up: ") + std::strerror(errno);
        ::setns(before.Get(), CLONE_NEWNET);
        return Fail(whyNot, reason);
    }
    ::setenv(kOuterNetworkNamespaceVariable, outer.c_str(), 1);
    return true;
}

}  // namespace testsupport
