// The program's one window, as a presenter: it owns everything that runs
// (the cleaning worker, the proxy-generator worker, the local proxy and the
// two pages) and handles the window's messages and the tray menu's commands.
// The toolkit's view draws and forwards.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cleaning_worker.h"
#include "connection_options.h"
#include "html_response_filter.h"
#include "message_box.h"
#include "notify_icon_dialog.h"
#include "privacy_page.h"
#include "proxy_generator_worker.h"
#include "proxy_probe.h"
#include "proxy_server.h"
#include "proxy_switching.h"
#include "responsive_wait.h"
#include "settings_catalogue.h"
#include "settings_page.h"
#include "upstream_failover.h"
#include "window_post.h"

inline constexpr const char* kMainWindowTitle = "Quillon";
inline constexpr int kIconResource = 128;
inline constexpr int kTrayMenuResource = 129;
inline constexpr int kAboutStringResource = 101;
inline constexpr int kCommandEnable = 32771;
inline constexpr int kCommandConfiguration = 32772;
inline constexpr int kCommandHideMenu = 0;
inline constexpr int kCommandExit = 32775;
inline constexpr unsigned kSysCommandAbout = 0x0010;
inline constexpr int kTimerHide = 998;  // a start after the first: hide at once
inline constexpr int kTimerStay = 0;    // the first start: stay on screen

// What the presenter asks of the window besides the tray.
class IMainWindowView : public ITrayShell {
public:
    virtual std::string LoadStringResource(int id) = 0;
    // A separator and the About item (kSysCommandAbout) in the system menu.
    virtual void AppendAboutItem(const std::string& text) = 0;
    virtual void SetTimer(int id, int milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // Creates the configuration sheet with its two pages; the Settings page
    // is initialised inside (through CMainDialog::SettingsPage()).
    virtual void CreateConfigurationSheet() = 0;
    virtual void RunAboutBox() = 0;
    // Ends the window's modal run.
    virtual void EndDialog(int result) = 0;
    // Shows the state of the cached settings (the enable check box).
    virtual void RefreshControls() = 0;
    // A wait runs (the window answers but takes no commands): the busy
    // cursor, the window's controls and the tray's "Enable Quillon" off.
    virtual void SetBusy(bool busy) = 0;
    // The proxy now in use, as the Settings page's selection (when the page
    // exists; it reads the stored one when it is made).
    virtual void ShowProxyChoice(const std::string& text) = 0;
};

// What the tray says when a proxy that stopped answering was replaced.
std::string SwitchedProxyText(const std::string& to, const std::string& from);

// The services the window works with, built by the start routine.
struct MainDialogServices {
    SettingsCatalogue& settings;
    IRegistryStore& store;  // the settings' store, for the short-lived values
    IConnectionOptions& browser;
    IMessageBox& messages;
    IProxyProbe& probe;
    TraceStores traces;
    std::string appPath;  // the application folder copied at start
    int localPort = kLocalProxyPort;
    // Where waits on the network and on large files run; none: on the
    // window's thread (tests without a window).
    IResponsiveWait* wait = nullptr;
    // How background work reaches the window's thread; none: what it posts
    // is dropped (nothing is shown).
    IWindowPost* post = nullptr;
};

class CMainDialog final : public CNotifyIconDialog,
                          private IResponsiveWait,
                          private IProxySwitchingHost,
                          private ISettingsPageHost,
                          private IPrivacyPageHost,
                          private IUpstreamFailover {
public:
    CMainDialog(IMainWindowView& view, const MainDialogServices& services);
    ~CMainDialog() override;

    bool OnInitDialog();
    bool OnSysCommand(unsigned command) override;
    void OnTimer(int id);
    void OnMinimized();
    void OnCommand(int id);
    // The session ends (logout, shutdown, a signal): the browser gets its
    // own configuration back; every stored setting stays, so the next start
    // switches on again. Also run by the destructor.
    void OnEndSession();
    // The check marks of "Enable Quillon" (tray menu and Settings page):
    // whether anonymous browsing runs.
    bool EnableChecked() const { return m_switching.IsOn(); }
    // Esc, the close box, Alt+F4.
    void OnCancel() { HideToTray(); }
    // An accept (Enter where no control takes it) must not end the program
    // past the Exit sequence, which would leave the browser pointed at a
    // proxy that no longer runs: it hides the window like Cancel.
    void OnOK() { HideToTray(); }
    void HideToTray();

    CSettingsPage& SettingsPage() { return m_settingsPage; }
    // The list check's latest results, as the Settings page keeps them.
    ProxyCheckResults& CheckResults() { return m_checkResults; }
    // The Privacy page's initialisation, with the pop-ups counted so far
    // stored first so that the page shows them.
    bool InitPrivacyPage(IPrivacyPageView& view);
    // The Privacy page comes into view (its tab chosen, or the window shown
    // on it): the count as it stands now.
    void OnPrivacyPageShown(IPrivacyPageView& view);
    CPrivacyPage& PrivacyPage() { return m_privacyPage; }
    CProxyServer& ProxyServer() { return m_server; }

private:
    // IResponsiveWait: every wait of the window's parts, with the window
    // busy meanwhile.
    bool Run(const std::function<void(std::stop_token)>& job) override;
    // IProxySwitchingHost
    IResponsiveWait& Waits() override { return *this; }
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void RefreshSettingsCopies() override;
    void RefreshControls() override;
    void RestartCleaningWorker() override;
    void ShowTrayIconIfHidden() override { ShowTrayIcon(); }
    void HideMainWindow() override { HideWindow(); }
    // ISettingsPageHost
    void SetCachedUseProxy(int value) override { m_switching.SetCachedUseProxy(value); }
    bool AnonymousBrowsingOn() const override { return m_switching.IsOn(); }
    void OnToggleProxy() override { m_switching.OnToggleProxy(); }
    void ApplyProxySelection(const std::string& text) override;
    void StartProxyGenerator() override { m_generator.Start(); }
    // IPrivacyPageHost
    void FilterSwitchesSaved() override { CopyFilterRules(); }
    void RestartCleaningWorker(std::uint32_t temporaryFiles, std::uint32_t cookies,
                               std::uint32_t typedAddresses, std::uint32_t history) override;
    // IUpstreamFailover, on a connection's thread: the best live entry of
    // the list check when AutoSwitch is on; the window hears of it by post.
    std::optional<std::string> Replacement(const std::string& failing) override;
    // On the window's thread, after the engine has moved from `from` to `to`.
    void OnProxyReplaced(const std::string& from, const std::string& to);

    // Hidden behind the tray icon; without one (a desktop with no
    // notification area) minimised instead, so that it is never lost.
    void HideWindow();
    void Exit();
    void FoldBlockedPopups();
    // The switches as stored now, for the connections to read.
    void CopyFilterRules();

    IMainWindowView& m_view;
    MainDialogServices m_services;
    std::shared_ptr<PopupCounter> m_popups = std::make_shared<PopupCounter>();
    FilterSwitches m_filterSwitches;
    // Shared with the connections, which may outlive this window.
    std::shared_ptr<LiveFilterRules> m_filterRules = std::make_shared<LiveFilterRules>();

    // Handed to threads that may outlive the window; closed when it goes.
    std::shared_ptr<ClosablePost> m_post = std::make_shared<ClosablePost>(m_services.post);
    ProxyCheckResults m_checkResults;

    // Destroyed in reverse: pages, proxy server, generator, cleaning worker.
    CleaningWorker m_cleaning;
    ProxyGeneratorWorker m_generator;
    CProxyServer m_server;
    std::uint32_t m_clearCookies = 0;
    std::uint32_t m_clearTmpFiles = 0;
    std::uint32_t m_deleteAddresses = 0;
    std::uint32_t m_deleteHistory = 0;
    ProxySwitching m_switching;  // holds the toggle flag and the cached UseProxy
    CSettingsPage m_settingsPage;
    CPrivacyPage m_privacyPage;
    bool m_firstMinimize = true;
    InlineWait m_inlineWait;
    int m_waits = 0;  // waits running now (one may start inside another)
    // The copy of AutoSwitch that connections read; taken at start and at
    // every save.
    std::atomic<std::uint32_t> m_autoSwitch{0};
    // Handed to the engine, whose connections may outlive the window; closed
    // when it goes.
    std::shared_ptr<ClosableFailover> m_failover =
        std::make_shared<ClosableFailover>(static_cast<IUpstreamFailover*>(this));
};
