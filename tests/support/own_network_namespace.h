// A network namespace of a test's own: only loopback is there, so nothing a
// test starts can reach the machine's network, the fixed port 8080 is free,
// and firewall rules made in it vanish with it. Linux only.
#pragma once

#include <string>

namespace testsupport {

// Set by whatever moves a process into a network namespace of its own, to
// the namespace it left, as /proc/self/ns/net reads ("net:[4026531840]").
// A shell launcher sets it the same way (one line):
//   QUILLON_OUTER_NETNS=$(readlink /proc/self/ns/net) unshare -n
//       sh -c 'ip link set lo up && exec "$0" "$@"' COMMAND ARGS...
inline constexpr const char* kOuterNetworkNamespaceVariable = "QUILLON_OUTER_NETNS";

// True only when the marker names another namespace than this one, this is
// not the namespace of pid 1 (where that can be read), and loopback is the
// only interface here. Otherwise false, with the reason in whyNot.
bool InOwnNetworkNamespace(std::string* whyNot = nullptr);

// Moves this process into a new network namespace with loopback up and sets
// the marker for it and its children. Call it first in main, before any
// thread starts: a thread keeps the namespace it was started in. False, with
// the reason, when the system does not allow it (it needs root); the process
// then runs on where it was.
bool EnterOwnNetworkNamespace(std::string* whyNot = nullptr);

}  // namespace testsupport
