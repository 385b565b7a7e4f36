#include "thread_start.h"

#include <process.h>
#include <windows.h>

namespace engine {
namespace {

struct Start {
    void (*entry)(void*);
    void* arg;
};

unsigned __stdcall Trampoline(void* p) {
    std::unique_ptr<Start> start(static_cast<Start*>(p));
    start->entry(start->arg);
    return 0;
}

}  // namespace

bool CreateDetachedThread(void (*entry)(void*), void* arg) {
    auto start = std::make_unique<Start>(Start{entry, arg});
    uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(kWorkerStackSize), &Trampoline,
                                      start.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (handle == 0) {
        return false;
    }
    start.release();
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
}

}  // namespace engine
