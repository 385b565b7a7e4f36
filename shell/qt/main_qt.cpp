// The program's entry on Linux: the settings first, then the toolkit, the
// start routine and the main window's run as the program's main loop.
#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "config_home_linux.h"
#include "connection_options.h"
#include "first_start_linux.h"
#include "main_window_qt.h"
#include "message_box_qt.h"
#include "platform_trace_stores.h"
#include "process_registry_store.h"
#include "quit_on_signals_posix.h"
#include "responsive_wait_qt.h"
#include "shell_app.h"
#include "single_instance_qt.h"
#include "window_post_qt.h"

namespace {

// On a machine without a display the program still runs: the proxy, the
// cleaner and the catalogue work, and messages go to standard error.
void ChooseOffscreenWithoutDisplay() {
    const auto unset = [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr || *value == '\0';
    };
    if (unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A package installs for every user at once; each user's first start
    // does the rest of what an installer would, before the settings are read.
    StorePerUserDefaults(ProcessRegistryStore(), UserDataHome(), RunningExecutable());
    SettingsCatalogue& settings = Settings();
    IRegistryStore& store = ProcessRegistryStore();
    const std::unique_ptr<IAutostartEntry> autostart = SystemAutostartEntry(store);

    ChooseOffscreenWithoutDisplay();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setWindowIcon(ApplicationIcon());
    // Hiding the window to the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const QuitOnSignals quitOnSignals;

    CLocalSingleInstance instance;
    return RunShellApp(
        ShellStart{store, *autostart, instance, settings}, [&](const std::string& appPath) {
            const std::unique_ptr<IConnectionOptions> browser = MakeSystemConnectionOptions();
            const std::unique_ptr<PlatformTraceStores> traces = CreatePlatformTraceStores(store);
            ProxyProbe probe;
            CMessageBoxQt messages(IsOffscreenPlatform() ? &std::cerr : nullptr);
            CResponsiveWaitQt wait;
            QObject windowThread;  // what is posted to the window runs here
            CWindowPostQt post(windowThread);
            CMainWindowQt window(MainDialogServices{settings, store, *browser, messages, probe,
                                                    traces->Stores(), appPath, kLocalProxyPort,
                                                    &wait, &post});
            messages.SetOwner(&window);
            bool ended = false;
            window.SetOnEnd([&ended](int result) {
                ended = true;
                QApplication::exit(result);
            });
            instance.SetOnShowRequest([&] { window.ShowInFront(instance.ActivationToken()); });
            window.Start();
            // An end asked for while the start still waited (Exit, a signal)
            // stands: the main loop would forget it.
            if (!ended && !quitOnSignals.Signalled()) {
                QApplication::exec();
            }
            instance.SetOnShowRequest({});
        });
}
