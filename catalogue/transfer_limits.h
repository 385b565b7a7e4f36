// How long a download may wait on the network: for its connect, and in all.
#pragma once

#include <chrono>

struct TransferLimits {
    std::chrono::milliseconds connect;
    std::chrono::milliseconds total;
};
