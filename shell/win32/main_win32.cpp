// The program's entry on Windows: the settings first, then the common
// controls, sockets, the start routine and the main window's modal run.
#include <windows.h>

#include <commctrl.h>

#include "connection_options.h"
#include "main_window_win32.h"
#include "platform_trace_stores.h"
#include "process_registry_store.h"
#include "shell_app.h"
#include "single_instance_win32.h"
#include "socket_shim.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    SettingsCatalogue& settings = Settings();
    IRegistryStore& store = ProcessRegistryStore();
    const std::unique_ptr<IAutostartEntry> autostart = SystemAutostartEntry(store);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    // Winsock 1.1 for the local proxy and the probe, for the whole run.
    const net::SocketLibrary sockets;

    CMutexSingleInstance instanceName;
    return RunShellApp(
        ShellStart{store, *autostart, instanceName, settings}, [&](const std::string& appPath) {
            const std::unique_ptr<IConnectionOptions> browser = MakeSystemConnectionOptions();
            const std::unique_ptr<PlatformTraceStores> traces = CreatePlatformTraceStores(store);
            ProxyProbe probe;
            CMessageBoxWin32 messages;
            CMainWindowWin32 window(instance,
                                    MainDialogServices{settings, store, *browser, messages, probe,
                                                       traces->Stores(), appPath},
                                    messages);
            window.Run();
        });
}
