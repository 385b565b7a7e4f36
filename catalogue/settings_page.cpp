#include "settings_page.h"

namespace {

// The probe, measuring in a wait of the window's own.
class WaitingProbe final : public IProxyProbe {
public:
    WaitingProbe(IProxyProbe& probe, IResponsiveWait& wait, std::stop_source& ending)
        : m_probe(probe), m_wait(wait), m_ending(ending) {}
    std::optional<ProbeFigures> Measure(const std::string& host, int port,
                                        std::stop_token) override {
        std::optional<ProbeFigures> figures;
        if (!m_wait.Run(
                [&](std::stop_token stop) { figures = m_probe.Measure(host, port, stop); })) {
            m_ending.request_stop();  // no verdict while the program ends
        }
        return figures;
    }

private:
    IProxyProbe& m_probe;
    IResponsiveWait& m_wait;
    std::stop_source& m_ending;
};

}  // namespace

CSettingsPage::CSettingsPage(SettingsCatalogue& settings, IRegistryStore& store,
                             std::string_view appPath, IConnectionOptions& browser,
                             IMessageBox& messages, IProxyProbe& probe, ISettingsPageHost& host,
                             const SettingsPageChecks& checks)
    : m_settings(settings),
      m_store(store),
      m_listFile(appPath, messages),
      m_browser(browser),
      m_messages(messages),
      m_probe(probe),
      m_host(host),
      m_appPath(appPath),
      m_results(checks.results != nullptr ? *checks.results : m_ownResults),
      m_check(checks.post, checks.options) {}

bool CSettingsPage::OnInitDialog(ISettingsPageView& view) {
    view.SetEnableCheck(m_enable == 1);
    view.SetAutoSwitchCheck(m_settings.AutoSwitch.Get() != 0);
    // The marks of the last check show with the list, before this one's.
    ProxyCheckTable lastCheck;
    if (!Wait([&](std::stop_token) { ReadProxyCheckFile(m_appPath, lastCheck); })) {
        return true;
    }
    m_results.Replace(std::move(lastCheck));
    if (m_settings.RunFirst.Get() == 0) {
        // The first download goes direct, unless a stored proxy switched
        // anonymous browsing on at start: then the browser has to stay
        // pointed at what runs, and the download goes through it too.
        if (!m_host.AnonymousBrowsingOn()) {
            m_browser.DisableConnectionProxy(kDefaultConnectionName);
        }
        std::string text;
        if (!Wait([&](std::stop_token stop) { text = ProxyListFile::DownloadProxyList(stop); })) {
            return true;
        }
        if (!m_listFile.StoreFetchedList(text)) {
            ProxyEntries stored;  // the list stored before, if any
            if (EntriesOf(text, stored)) {
                List(view, stored);
                Check(view, {m_listed.begin(), m_listed.end()});
            }
            return true;  // tried again at the next start
        }
        // Listed by the load below: what was stored is what was fetched.
        m_host.StartProxyGenerator();
        m_settings.RunFirst.Set(1);
    }
    // What runs, not UseProxy: a stored proxy switches on at start whatever
    // UseProxy says.
    m_enable = m_host.AnonymousBrowsingOn() ? 1 : 0;
    FileError error = FileError::None;
    ProxyEntries entries = m_listed;
    if (!Wait([&](std::stop_token) {
            std::string text;
            error = m_listFile.ReadStoredList(text);
            entries = WithEntriesOf(entries, text);
        })) {
        return true;
    }
    if (error != FileError::None) {
        ShowFileError(m_messages, error, m_listFile.Path());
        return true;
    }
    List(view, entries);
    Check(view, {m_listed.begin(), m_listed.end()});
    const std::string proxy = m_settings.ProxyName.Get();
    if (!proxy.empty()) {
        view.SetEditText(proxy);
    }
    view.SetEnableCheck(m_enable == 1);
    return true;
}

bool CSettingsPage::Wait(const std::function<void(std::stop_token)>& job) {
    return m_host.Waits().Run(job);
}

bool CSettingsPage::EntriesOf(std::string_view text, ProxyEntries& entries) {
    // The heavy part: a public list holds hundreds of thousands of lines.
    entries = m_listed;
    return Wait([&](std::stop_token) { entries = WithEntriesOf(entries, text); });
}

void CSettingsPage::List(ISettingsPageView& view, const ProxyEntries& entries) {
    if (entries.SameAs(m_listed)) {
        return;
    }
    m_listed = entries;
    view.ShowEntries(m_listed);
    std::vector<EntryCheck> checks;
    const ProxyCheckTable checked = m_results.Snapshot();
    for (const ProxyCheckResult& result : checked.All()) {
        const std::size_t row = m_listed.Find(result.endpoint);
        if (row < m_listed.Size()) {
            checks.push_back({row, result});
        }
    }
    if (!checks.empty()) {
        view.ShowEntryChecks(checks);
    }
}

void CSettingsPage::Check(ISettingsPageView& view, std::vector<std::string> endpoints) {
    m_view = &view;
    m_check.Start(std::move(endpoints),
                  {[this](const ProxyCheckResult& result) { OnChecked(result); },
                   [this](ProxyCheckRun::Outcome outcome) {
                       if (outcome == ProxyCheckRun::Outcome::kDone) {
                           // Quietly: the results are kept for the next start
                           // only, and the old file stays when this fails.
                           WriteProxyCheckFile(m_appPath, m_results.Snapshot());
                       }
                   }});
}

void CSettingsPage::OnChecked(const ProxyCheckResult& result) {
    m_results.Put(result);
    const std::size_t row = m_listed.Find(result.endpoint);
    if (m_view != nullptr && row < m_listed.Size()) {
        m_view->ShowEntryChecks({{row, result}});
    }
}

void CSettingsPage::Test(const std::string& text, const std::function<void()>& onAvailable) {
    std::stop_source ending;
    WaitingProbe probe(m_probe, m_host.Waits(), ending);
    TestProxy(text, m_messages, probe, onAvailable, ending.get_token());
}

void CSettingsPage::OnEnableClicked(ISettingsPageView& view) {
    const int wanted = static_cast<int>(SwitchValue(view.EnableCheck()));
    m_enable = wanted;
    m_host.SetCachedUseProxy(m_enable);
    m_host.OnToggleProxy();  // the box then shows what runs
    if (wanted == 1 && !m_host.AnonymousBrowsingOn()) {
        // Not on yet (no proxy stored, or not reachable): the tick stays as
        // the choice that "Save Settings" applies with the proxy picked here.
        ShowSwitchState(view, true);
    }
}

void CSettingsPage::OnPick(ISettingsPageView& view) {
    view.SetEnableCheck(m_enable == 1);
    const std::string text = view.SelectedItemText();
    if (text.empty()) {
        return;
    }
    Test(text);
}

void CSettingsPage::OnAddNewProxy(ISettingsPageView& view) {
    if (view.RunAddProxyDialog() != 0) {
        return;
    }
    const std::string text = TMPProxy(m_store).Get();
    Test(text, [&] { view.SetEditText(text); });
    if (IsEntryText(text)) {
        Check(view, {text});
    }
}

void CSettingsPage::OnUpdateProxyList(ISettingsPageView& view) {
    std::string text;
    if (!Wait([&](std::stop_token stop) { text = ProxyListFile::DownloadProxyList(stop); })) {
        return;
    }
    const bool fetched = m_listFile.StoreFetchedList(text);
    ProxyEntries entries;
    if (!EntriesOf(text, entries)) {
        return;
    }
    List(view, entries);
    if (!text.empty()) {
        Check(view, {m_listed.begin(), m_listed.end()});
    }
    if (!fetched) {
        return;
    }
    m_host.StartProxyGenerator();
    m_messages.Show(kListUpdatedText, "", MessageIcon::None);
}

void CSettingsPage::OnSaveSettings(ISettingsPageView& view) {
    m_enable = static_cast<int>(SwitchValue(view.EnableCheck()));
    m_settings.AutoSwitch.Set(view.AutoSwitchCheck() ? 1 : 0);
    const std::string text = view.EditText();
    m_host.SetCachedUseProxy(m_enable);
    m_host.ApplyProxySelection(text);
}

void CSettingsPage::OnHelp(ISettingsPageView& view) {
    view.OpenFile("index.htm");
}

void CSettingsPage::ShowSwitchState(ISettingsPageView& view, bool on) {
    m_enable = on ? 1 : 0;
    view.SetEnableCheck(on);
}

int CAddProxyDialog::OnOK(const std::string& proxyText) {
    if (!proxyText.empty()) {
        TMPProxy(m_store).Set(proxyText);
    } else {
        m_messages.Show(kEnterProxyText, "WARNING", MessageIcon::None);
    }
    return 0;
}
