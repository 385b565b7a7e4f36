// One copy per machine session: a named mutex marks the running copy, and a
// later copy finds its main window by title and brings it to the front.
#pragma once

#include "shell_app.h"
#include "win32_handles.h"

class CMutexSingleInstance final : public ISingleInstance {
public:
    explicit CMutexSingleInstance(const char* name = kSingleInstanceName) : m_name(name) {}

    // The mutex stays open (not owned) until this object goes, at the end of
    // the process.
    bool Claim() override;
    void HandOver() override;

private:
    const char* m_name;
    KernelHandle m_mutex;
};
