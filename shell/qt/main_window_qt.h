// The main window (template 102) with its tray icon and menu (resource 129),
// the configuration sheet with its two pages and the About box (template
// 100). Everything it does is the presenter's; this class draws and forwards.
#pragma once

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTimer>
#include <map>
#include <memory>

#include "main_dialog.h"
#include "privacy_page_qt.h"
#include "settings_page_qt.h"

inline constexpr const char* kAboutProductText = "Quillon Version 1.1";
inline constexpr const char* kAboutDetailText = "Anonymous browsing from the tray";

// Resources of the program (resources/quillon.qrc).
QIcon ApplicationIcon();
QPixmap LogoBitmap();

class CAboutDialogQt final : public QDialog {
public:
    explicit CAboutDialogQt(QWidget* parent);
};

// The tab strip and the two pages: one row of flat button tabs; the Privacy
// page is built and initialised the first time its tab is chosen.
class CConfigurationSheetQt final : public QWidget {
public:
    CConfigurationSheetQt(QWidget* parent, CMainDialog& presenter, IRegistryStore& store,
                          IMessageBox& messages);

    QTabBar& Tabs() { return *m_tabs; }
    CSettingsPageQt& SettingsPage() { return *m_settings; }
    // Null until its tab has been chosen.
    CPrivacyPageQt* PrivacyPage() { return m_privacy; }

private:
    void Choose(int index);

    CMainDialog& m_presenter;
    QTabBar* m_tabs;
    CSettingsPageQt* m_settings;
    CPrivacyPageQt* m_privacy = nullptr;
    QRect m_pageArea;
};

class CMainWindowQt final : public QDialog, public IMainWindowView {
public:
    // `services.messages` must be the box that is owned by this window when
    // it is a CMessageBoxQt; the caller sets that up.
    explicit CMainWindowQt(const MainDialogServices& services);
    ~CMainWindowQt() override;

    // Shown as its template asks, then the dialog's initialisation; the
    // start timer decides whether it stays.
    void Start();
    // A second start of the program: show the window in front, with the
    // activation token the later copy's launcher gave it (empty: none).
    void ShowInFront(const QString& activationToken = {});

    CMainDialog& Presenter() { return m_presenter; }
    QMenu& TrayMenu() { return m_trayMenu; }
    QMenu& SystemMenu() { return m_systemMenu; }
    CConfigurationSheetQt* Sheet() { return m_sheet; }
    // Set to be told when the window's run ends (Exit): the program quits.
    void SetOnEnd(std::function<void(int)> onEnd) { m_onEnd = std::move(onEnd); }

    // ITrayShell
    bool AddIcon(const TrayIconRecord& record) override;
    bool DeleteIcon(const TrayIconRecord& record) override;
    bool ModifyIcon(const TrayIconRecord& record) override;
    std::uintptr_t LoadIconResource(int id) override;
    std::uintptr_t LoadMenuResource(int id) override;
    void TrackTrayMenu(std::uintptr_t menu, int x, int y, int defaultPosition) override;
    void CursorPosition(int& x, int& y) override;
    void ShowWindow(WindowShow how) override;
    void ShowNotification(const TrayIconRecord& record, const std::string& title,
                          const std::string& text) override;
    // IMainWindowView
    std::string LoadStringResource(int id) override;
    void AppendAboutItem(const std::string& text) override;
    void SetTimer(int id, int milliseconds) override;
    void KillTimer(int id) override;
    void CreateConfigurationSheet() override;
    void RunAboutBox() override;
    void EndDialog(int result) override;
    void RefreshControls() override;
    void SetBusy(bool busy) override;
    void ShowProxyChoice(const std::string& text) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void accept() override { m_presenter.OnOK(); }
    void reject() override { m_presenter.OnCancel(); }
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ApplyTrayRecord(const TrayIconRecord& record);
    void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
    // Shown, no longer minimised, and activated once the desktop has mapped
    // it: a desktop raises only a window it shows.
    void BringToFront();
    void Activate();

    IRegistryStore& m_store;
    IMessageBox& m_messages;
    QSystemTrayIcon m_tray;
    QMenu m_trayMenu;
    // When the menu last came on screen: a press on an XEmbed icon shows it
    // before the queued activation arrives, so the activation must not show
    // it a second time (even when the user has closed it meanwhile).
    QElapsedTimer m_menuShown;
    QAction* m_enableAction = nullptr;
    QMenu m_systemMenu;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
    CConfigurationSheetQt* m_sheet = nullptr;
    std::function<void(int)> m_onEnd;
    QString m_activationToken;
    bool m_activateWhenExposed = false;
    // Minimised, and not active since: on Wayland nothing but mapping the
    // window anew brings it back.
    bool m_minimizedAway = false;
    // Last: built when everything it may call exists, gone before any of it.
    CMainDialog m_presenter;
};
