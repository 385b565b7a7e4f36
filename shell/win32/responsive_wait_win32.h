// The wait of the Windows program: the job runs on a thread of its own while
// the window's messages go on being dispatched.
#pragma once

#include <windows.h>

#include <functional>

#include "responsive_wait.h"

class CResponsiveWaitWin32 final : public IResponsiveWait {
public:
    // `preTranslate` gives the window's keyboard handling first go at a
    // message (true when it took it); `ended` tells whether the window's run
    // has ended meanwhile (Exit).
    CResponsiveWaitWin32(std::function<bool(MSG&)> preTranslate, std::function<bool()> ended)
        : m_preTranslate(std::move(preTranslate)), m_ended(std::move(ended)) {}

    bool Run(const std::function<void(std::stop_token)>& job) override;

private:
    std::function<bool(MSG&)> m_preTranslate;
    std::function<bool()> m_ended;
};
