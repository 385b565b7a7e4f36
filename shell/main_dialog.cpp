#include "main_dialog.h"

std::string SwitchedProxyText(const std::string& to, const std::string& from) {
    return "Quillon switched to " + to + ": " + from + " stopped answering.";
}

CMainDialog::CMainDialog(IMainWindowView& view, const MainDialogServices& services)
    : CNotifyIconDialog(view),
      m_view(view),
      m_services(services),
      m_filterSwitches{services.settings.EnableJS, services.settings.EnableActiveX,
                       services.settings.BlockPopups},
      m_cleaning(services.traces),
      m_switching(m_server, services.browser, services.settings, *this, services.localPort),
      m_settingsPage(
          services.settings, services.store, services.appPath, services.browser, services.messages,
          services.probe, *this,
          // Without a window nobody would see the list check.
          SettingsPageChecks{&m_checkResults, services.post != nullptr ? m_post : nullptr, {}}),
      m_privacyPage(
          PrivacySettings{services.settings.BlockPopups, services.settings.EnableJS,
                          services.settings.EnableActiveX, services.settings.ClearTmpFiles,
                          services.settings.ClearCookies, services.settings.DeleteAddresses,
                          services.settings.DeleteHistory, services.store},
          *this) {
    CopyFilterRules();
    m_server.SetFilterFactory(std::make_shared<HtmlFilterFactory>(m_filterRules, m_popups));
    m_server.SetFailover(m_failover);
    RefreshSettingsCopies();
}

CMainDialog::~CMainDialog() {
    // Whatever ends the run (Exit, a signal, the session's end), the pop-ups
    // counted so far are kept and the browser is not left pointing at a
    // port that nobody holds.
    m_failover->Close();  // a connection's call that runs is waited for
    FoldBlockedPopups();
    OnEndSession();
    m_post->Close();
}

void CMainDialog::OnEndSession() {
    m_switching.EndSession();
}

bool CMainDialog::OnInitDialog() {
    SetTrayIcon(kIconResource);
    SetTrayTip(kMainWindowTitle);
    SetTrayMenu(kTrayMenuResource);
    SetCloseToTray(0);
    ShowTrayIcon();

    const std::string about = m_view.LoadStringResource(kAboutStringResource);
    if (!about.empty()) {
        m_view.AppendAboutItem(about);
    }

    m_switching.ApplyStartupProxy();
    m_cleaning.Restart(m_clearTmpFiles, m_clearCookies, m_deleteAddresses, m_deleteHistory);

    RegistryDword& minimize = m_services.settings.Minimize;
    if (minimize.Get() == 1) {
        m_view.SetTimer(kTimerHide, 1);
    } else {
        minimize.Set(1);
        m_view.SetTimer(kTimerStay, 1);
    }
    m_view.CreateConfigurationSheet();
    return true;
}

bool CMainDialog::OnSysCommand(unsigned command) {
    if ((command & 0xFFF0) == kSysCommandAbout) {
        m_view.RunAboutBox();
        return true;
    }
    return CNotifyIconDialog::OnSysCommand(command);
}

void CMainDialog::OnTimer(int id) {
    if (id == kTimerHide) {
        HideWindow();
        m_view.KillTimer(kTimerHide);
    } else if (id == kTimerStay) {
        m_view.KillTimer(kTimerStay);
    }
}

void CMainDialog::OnMinimized() {
    if (m_firstMinimize) {
        m_view.ShowWindow(WindowShow::Minimize);
        m_firstMinimize = false;
    } else {
        HideWindow();
    }
}

void CMainDialog::OnCommand(int id) {
    switch (id) {
        case kCommandEnable:
            // Not in the middle of a wait, whose caller goes on afterwards.
            if (m_waits == 0) {
                m_switching.OnToggleProxy();
            }
            break;
        case kCommandConfiguration:
            HideTrayIcon();
            m_view.ShowWindow(WindowShow::Show);
            break;
        case kCommandHideMenu:
            HideTrayIcon();
            break;
        case kCommandExit:
            Exit();
            break;
        default:
            break;
    }
}

void CMainDialog::HideToTray() {
    ShowTrayIcon();
    HideWindow();
}

void CMainDialog::HideWindow() {
    m_view.ShowWindow(IsTrayIconShown() != 0 ? WindowShow::Hide : WindowShow::Minimize);
}

bool CMainDialog::InitPrivacyPage(IPrivacyPageView& view) {
    FoldBlockedPopups();
    return m_privacyPage.OnInitDialog(view);
}

void CMainDialog::OnPrivacyPageShown(IPrivacyPageView& view) {
    FoldBlockedPopups();
    m_privacyPage.ShowCount(view);
}

void CMainDialog::ShowMessage(const std::string& text, const std::string& caption) {
    m_services.messages.Show(text, caption, MessageIcon::None);
}

void CMainDialog::RefreshSettingsCopies() {
    SettingsCatalogue& s = m_services.settings;
    m_clearCookies = s.ClearCookies.Get();
    m_clearTmpFiles = s.ClearTmpFiles.Get();
    m_deleteAddresses = s.DeleteAddresses.Get();
    m_deleteHistory = s.DeleteHistory.Get();
    m_switching.SetCachedUseProxy(static_cast<int>(s.UseProxy.Get()));
    m_autoSwitch.store(s.AutoSwitch.Get());
}

void CMainDialog::ApplyProxySelection(const std::string& text) {
    // The page has stored its AutoSwitch box by now.
    m_autoSwitch.store(m_services.settings.AutoSwitch.Get());
    m_switching.ApplyProxySelection(text);
}

std::optional<std::string> CMainDialog::Replacement(const std::string& failing) {
    if (m_autoSwitch.load() == 0) {
        return std::nullopt;
    }
    std::optional<std::string> next = m_checkResults.Best(failing);
    if (next) {
        m_post->Post([this, failing, to = *next] { OnProxyReplaced(failing, to); });
    }
    return next;
}

void CMainDialog::OnProxyReplaced(const std::string& from, const std::string& to) {
    // Only while the engine still runs the failed choice: the user may have
    // switched off or chosen another proxy meanwhile, and that stands.
    SettingsCatalogue& s = m_services.settings;
    const std::string stored = s.ProxyName.Get();
    if (!m_switching.IsOn() || !SameProxy(stored, from)) {
        return;
    }
    s.UseProxy.Set(1);
    s.ProxyName.Set(to);
    m_view.ShowProxyChoice(to);
    ShowTrayNotification(kMainWindowTitle, SwitchedProxyText(to, stored));
}

void CMainDialog::RefreshControls() {
    m_view.RefreshControls();
}

void CMainDialog::RestartCleaningWorker() {
    // The options as stored now: the Privacy page may have saved new ones
    // since the copies were taken.
    SettingsCatalogue& s = m_services.settings;
    RestartCleaningWorker(s.ClearTmpFiles.Get(), s.ClearCookies.Get(), s.DeleteAddresses.Get(),
                          s.DeleteHistory.Get());
}

void CMainDialog::RestartCleaningWorker(std::uint32_t temporaryFiles, std::uint32_t cookies,
                                        std::uint32_t typedAddresses, std::uint32_t history) {
    m_clearTmpFiles = temporaryFiles;
    m_clearCookies = cookies;
    m_deleteAddresses = typedAddresses;
    m_deleteHistory = history;
    m_cleaning.Restart(temporaryFiles, cookies, typedAddresses, history);
}

void CMainDialog::CopyFilterRules() {
    m_filterRules->Store(FilterRules::Read(m_filterSwitches));
}

void CMainDialog::FoldBlockedPopups() {
    RegistryDword count = NrOfBlockPopups(m_services.store);
    m_popups->FoldInto(count);
}

bool CMainDialog::Run(const std::function<void(std::stop_token)>& job) {
    IResponsiveWait& wait = m_services.wait != nullptr ? *m_services.wait : m_inlineWait;
    if (m_waits++ == 0) {
        m_view.SetBusy(true);
    }
    const bool finished = wait.Run(job);
    if (--m_waits == 0) {
        m_view.SetBusy(false);
    }
    return finished;
}

void CMainDialog::Exit() {
    RegistryDword("Software\\Quillon\\BlockPopups", 0, false, RegistryRoot::LocalMachine,
                  m_services.store)
        .Set(0);
    m_services.browser.DisableConnectionProxy(kDefaultConnectionName);
    m_view.EndDialog(0);
}
