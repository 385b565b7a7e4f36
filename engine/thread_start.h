// Detached worker threads with a small fixed stack, so that hundreds of open
// connections (three threads each at most) stay cheap. Jobs run on threads of
// the shared worker pool, which keeps finished threads parked for the next job
// instead of creating one per job.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace engine {

inline constexpr std::size_t kWorkerStackSize = 128 * 1024;

// Creates a detached thread with kWorkerStackSize of stack that runs
// entry(arg); false when none was created. One implementation per platform.
bool CreateDetachedThread(void (*entry)(void*), void* arg);

// Runs entry(arg) on a detached thread of its own, parked or new; false when
// no thread was free and none could be created.
bool StartDetachedThread(void (*entry)(void*), void* arg);

// Runs the callable on a detached thread of its own, which owns it from then on.
// When no thread can be created the callable is destroyed unrun and false is
// returned.
template <class F>
bool StartDetached(F&& work) {
    using Work = std::decay_t<F>;
    auto owned = std::make_unique<Work>(std::forward<F>(work));
    auto entry = [](void* arg) {
        std::unique_ptr<Work> job(static_cast<Work*>(arg));
        (*job)();
    };
    if (!StartDetachedThread(entry, owned.get())) {
        return false;
    }
    owned.release();
    return true;
}

}  // namespace engine
