#include "thread_start.h"

#include <pthread.h>

#include <algorithm>

namespace engine {
namespace {

struct Start {
    void (*entry)(void*);
    void* arg;
};

void* Trampoline(void* p) {
    std::unique_ptr<Start> start(static_cast<Start*>(p));
    start->entry(start->arg);
    return nullptr;
}

}  // namespace

bool CreateDetachedThread(void (*entry)(void*), void* arg) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, std::max<std::size_t>(kWorkerStackSize, PTHREAD_STACK_MIN));
    auto start = std::make_unique<Start>(Start{entry, arg});
    pthread_t thread;
    bool created = pthread_create(&thread, &attr, &Trampoline, start.get()) == 0;
    pthread_attr_destroy(&attr);
    if (created) {
        start.release();
    }
    return created;
}

}  // namespace engine
