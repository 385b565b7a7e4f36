// The wait of the Qt program: the job runs on a thread of its own while a
// nested event loop keeps the window answering.
#pragma once

#include "responsive_wait.h"

class CResponsiveWaitQt final : public IResponsiveWait {
public:
    bool Run(const std::function<void(std::stop_token)>& job) override;
};
