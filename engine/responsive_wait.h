// Waiting on the network or a large file away from the window's thread: the
// window goes on answering meanwhile (it repaints, shows itself for a second
// start, and ends the program when asked to), while the code that asked
// reads on as if the call had blocked.
#pragma once

#include <functional>
#include <stop_token>

class IResponsiveWait {
public:
    virtual ~IResponsiveWait() = default;
    // Runs the job on a thread of its own and returns once it has ended:
    // true when it ran to its end; false when the program is ending
    // meanwhile, after the job's stop was requested and it has ended. The
    // job must end promptly once its token asks it to.
    virtual bool Run(const std::function<void(std::stop_token)>& job) = 0;
};

// Runs the job on the calling thread: for tests, which need no window.
class InlineWait final : public IResponsiveWait {
public:
    bool Run(const std::function<void(std::stop_token)>& job) override {
        job(std::stop_token{});
        return true;
    }
};
