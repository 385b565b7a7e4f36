#include "shell_app.h"

int RunShellApp(const ShellStart& start, const RunMainWindow& runMainWindow) {
    RunAutostartStep(start.store, start.autostart);
    if (!start.instance.Claim()) {
        start.instance.HandOver();
        return 0;
    }
    // Read once: the folder stays what it was at start for the whole run.
    const std::string appPath = start.settings.AppPath.Get();
    runMainWindow(appPath);
    return 0;
}
