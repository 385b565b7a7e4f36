#pragma once

#include <atomic>
#include <cstdint>

#include "registry_dword.h"

// Pop-up calls rewritten on their way to the browser. Connection threads add
// without ever touching the settings store; the interface thread folds the
// count into the stored NrOfBlockPopups.
class PopupCounter {
public:
    void Add(std::uint32_t n) { m_pending.fetch_add(n, std::memory_order_relaxed); }

    // Adds what was counted since the last fold to `stored` and writes it.
    void FoldInto(RegistryDword& stored) {
        const std::uint32_t n = m_pending.exchange(0, std::memory_order_relaxed);
        if (n != 0) {
            stored.Set(stored.Get() + n);
        }
    }

private:
    std::atomic<std::uint32_t> m_pending{0};
};
