#include <windows.h>

#include "tick_count.h"

std::uint32_t TickCount() {
    return ::GetTickCount();
}
