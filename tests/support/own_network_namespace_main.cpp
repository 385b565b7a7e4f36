// The main of a test binary that runs in a network namespace of its own
// where the system allows it (root): the fixed port 8080 is free there,
// blackholed ports can be made, and nothing a test starts leaves loopback.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "own_network_namespace.h"

int main(int argc, char** argv) {
    std::string whyNot;
    if (!testsupport::EnterOwnNetworkNamespace(&whyNot)) {
        std::fprintf(stderr, "in the machine's network namespace: %s\n", whyNot.c_str());
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
