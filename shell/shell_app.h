// The program's start routine, the same on every platform: the autostart
// entry is brought up to date, a second copy hands over to the running one,
// and the first copy runs its main window with the application folder copied
// from AppPath.
#pragma once

#include <functional>
#include <string>

#include "autostart.h"
#include "registry_store.h"
#include "settings_catalogue.h"

// The name by which the running copy is found (a named mutex on Windows, a
// local socket elsewhere).
inline constexpr const char* kSingleInstanceName =
    "AFX_Tessel_H__5B5F33E8_2175_4C23_BB38_A334CADD6B88";

class ISingleInstance {
public:
    virtual ~ISingleInstance() = default;
    // True when this process is the first copy; it then keeps the name until
    // it ends. A failure to claim it that is not another copy counts as first.
    virtual bool Claim() = 0;
    // Asks the running copy to show its main window in front.
    virtual void HandOver() = 0;
};

struct ShellStart {
    IRegistryStore& store;
    IAutostartEntry& autostart;
    ISingleInstance& instance;
    SettingsCatalogue& settings;
};

// Runs the main window with the application folder; returns when its run has
// ended.
using RunMainWindow = std::function<void(const std::string& appPath)>;

// Always 0: whatever happened, the process simply ends afterwards.
int RunShellApp(const ShellStart& start, const RunMainWindow& runMainWindow);
