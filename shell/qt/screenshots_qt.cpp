// Pictures of the windows for the documentation, drawn by the real views
// over a settings store in a temporary folder:
//   xvfb-run -a quillon_screenshots OUTPUT_FOLDER
// writes settings-page.png, privacy-page.png, tray-menu.png, add-proxy.png
// and about.png.
#include <QApplication>
#include <QLineEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "connection_options.h"
#include "main_window_qt.h"
#include "message_box_qt.h"
#include "platform_trace_stores.h"
#include "process_registry_store.h"

namespace {

// The local proxy of the pictured window must not take the real program's
// port.
int FreeLoopbackPort() {
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

void Settle() {
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
    }
}

bool Save(QWidget& widget, const QString& file) {
    Settle();
    const bool saved = widget.grab().save(file);
    std::cout << (saved ? "wrote " : "could not write ") << file.toStdString() << "\n";
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    QTemporaryDir home;
    // Before the store is first used: nothing here touches the user's own
    // settings or desktop.
    setenv("XDG_CONFIG_HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    setenv("QUILLON_VENDOR_URL", "http://127.0.0.1:9", 1);
    QApplication application(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);

    SettingsCatalogue settings(ProcessRegistryStore());
    IRegistryStore& store = ProcessRegistryStore();
    const std::string folder = home.path().toStdString() + "/";
    std::ofstream(folder + "proxylist.txt", std::ios::binary)
        << "198.51.100.23:80\r\r\n203.0.113.5:8080\r\r\n192.0.2.10:8080\r\r\n";
    settings.RunFirst.Set(1);
    settings.ProxyName.Set("203.0.113.5:8080");
    settings.UseProxy.Set(1);
    settings.ClearCookies.Set(1);
    settings.DeleteHistory.Set(1);
    settings.BlockPopups.Set(1);
    NrOfBlockPopups(store).Set(12);

    const std::unique_ptr<IConnectionOptions> browser = MakeSystemConnectionOptions();
    const std::unique_ptr<PlatformTraceStores> traces = CreatePlatformTraceStores(store);
    ProxyProbe probe;
    CMessageBoxQt messages(&std::cerr);
    CMainWindowQt window(MainDialogServices{settings, store, *browser, messages, probe,
                                            traces->Stores(), folder, FreeLoopbackPort()});
    window.Start();

    bool ok = Save(window, out + "/settings-page.png");
    window.Sheet()->Tabs().setCurrentIndex(1);
    ok = Save(window, out + "/privacy-page.png") && ok;

    QMenu& menu = window.TrayMenu();
    emit menu.aboutToShow();
    menu.setDefaultAction(menu.actions().value(0));  // as from its second display on
    menu.popup(QPoint(200, 200));
    ok = Save(menu, out + "/tray-menu.png") && ok;
    menu.hide();

    CAddProxyDialogQt add(&window, store, messages);
    add.findChild<QLineEdit*>(QStringLiteral("1022"))->setText(QStringLiteral("12.12.12.12:8080"));
    add.show();
    ok = Save(add, out + "/add-proxy.png") && ok;
    add.hide();

    CAboutDialogQt about(&window);
    about.show();
    ok = Save(about, out + "/about.png") && ok;
    return ok ? 0 : 1;
}
