#include "settings_page.h"

namespace {

// The page blocks while it waits for the network; the view shows why.
class BusyScope {
public:
    explicit BusyScope(ISettingsPageView& view) : m_view(view) { m_view.SetBusy(true); }
    ~BusyScope() { m_view.SetBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    ISettingsPageView& m_view;
};

}  // namespace

CSettingsPage::CSettingsPage(SettingsCatalogue& settings, IRegistryStore& store,
                             std::string_view appPath, IConnectionOptions& browser,
                             IMessageBox& messages, IProxyProbe& probe, ISettingsPageHost& host)
    : m_settings(settings),
      m_store(store),
      m_listFile(appPath, messages),
      m_browser(browser),
      m_messages(messages),
      m_probe(probe),
      m_host(host) {}

bool CSettingsPage::OnInitDialog(ISettingsPageView& view) {
    view.SetEnableCheck(m_enable == 1);
    if (m_settings.RunFirst.Get() == 0) {
        // The first download goes direct, unless a stored proxy switched
        // anonymous browsing on at start: then the browser has to stay
        // pointed at what runs, and the download goes through it too.
        if (!m_host.AnonymousBrowsingOn()) {
            m_browser.DisableConnectionProxy(kDefaultConnectionName);
        }
        bool fetched;
        {
            BusyScope busy(view);
            ListedOnce list = List(view);
            fetched = m_listFile.FetchProxyList(list);
        }
        if (!fetched) {
            return true;  // tried again at the next start
        }
        m_host.StartProxyGenerator();
        m_settings.RunFirst.Set(1);
    }
    // What runs, not UseProxy: a stored proxy switches on at start whatever
    // UseProxy says.
    m_enable = m_host.AnonymousBrowsingOn() ? 1 : 0;
    ListedOnce list = List(view);
    if (!m_listFile.LoadProxyList(list)) {
        return true;
    }
    const std::string proxy = m_settings.ProxyName.Get();
    if (!proxy.empty()) {
        view.SetEditText(proxy);
    }
    view.SetEnableCheck(m_enable == 1);
    return true;
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
    BusyScope busy(view);
    TestProxy(text, m_messages, m_probe);
}

void CSettingsPage::OnAddNewProxy(ISettingsPageView& view) {
    if (view.RunAddProxyDialog() != 0) {
        return;
    }
    const std::string text = TMPProxy(m_store).Get();
    BusyScope busy(view);
    TestProxy(text, m_messages, m_probe, [&] { view.SetEditText(text); });
}

void CSettingsPage::OnUpdateProxyList(ISettingsPageView& view) {
    {
        BusyScope busy(view);
        ListedOnce list = List(view);
        if (!m_listFile.FetchProxyList(list)) {
            return;
        }
    }
    m_host.StartProxyGenerator();
    m_messages.Show(kListUpdatedText, "", MessageIcon::None);
}

void CSettingsPage::OnSaveSettings(ISettingsPageView& view) {
    m_enable = static_cast<int>(SwitchValue(view.EnableCheck()));
    const std::string text = view.EditText();
    m_host.SetCachedUseProxy(m_enable);
    BusyScope busy(view);
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
