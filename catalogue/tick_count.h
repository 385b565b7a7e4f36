#pragma once

#include <cstdint>

// A 32-bit millisecond count that wraps about every 49.7 days, as the system
// tick does. Differences of two readings are taken modulo 2^32.
std::uint32_t TickCount();
