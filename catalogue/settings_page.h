// The Settings page of the configuration sheet and its Add Proxy dialog, as
// presenters: they read and write the settings, fetch and load the proxy
// list and test proxies; the views only draw the controls and forward the
// clicks.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection_options.h"
#include "message_box.h"
#include "proxy_check_results.h"
#include "proxy_list.h"
#include "proxy_list_check.h"
#include "proxy_probe.h"
#include "responsive_wait.h"
#include "settings_catalogue.h"

// Control ids of dialogs 133 and 132.
enum SettingsControl : int {
    kSettingsEnable = 1002,
    kSettingsAddProxy = 1026,
    kSettingsUpdateList = 1027,
    kSettingsProxyList = 1028,
    kSettingsSave = 1029,
    kSettingsHelp = 1030,
    kSettingsAutoSwitch = 1031,
    kAddProxyEdit = 1022,
};

inline constexpr const char* kSettingsPageTitle = "Settings";
inline constexpr const char* kListUpdatedText = "Proxy List Updated";
inline constexpr const char* kEnterProxyText = "Please enter a proxy address";
inline constexpr const char* kAutoSwitchText =
    "Switch to a working proxy when this one stops answering";

class ISettingsPageView {
public:
    virtual ~ISettingsPageView() = default;
    // The selection list now holds these entries, in this order: the ones it
    // held are among them, in the same order. Adding never picks an item nor
    // touches the edit field.
    // Every entry shows as not checked after it, until ShowEntryChecks.
    virtual void ShowEntries(const ProxyEntries& entries) = 0;
    // The marks of these rows (of the entries last shown), drawn from the
    // results by MarkKind, IsStale and MarkText; the other rows keep theirs.
    // The texts of the entries stay as they are.
    virtual void ShowEntryChecks(const std::vector<EntryCheck>& checks) = 0;
    // The enable check box.
    virtual void SetEnableCheck(bool checked) = 0;
    virtual bool EnableCheck() = 0;
    // The "switch to a working proxy" check box.
    virtual void SetAutoSwitchCheck(bool checked) = 0;
    virtual bool AutoSwitchCheck() = 0;
    // The selection list: the text of the item now selected, and the text of
    // its edit field.
    virtual std::string SelectedItemText() = 0;
    virtual std::string EditText() = 0;
    virtual void SetEditText(const std::string& text) = 0;
    // Runs the Add Proxy dialog modally; its end result (0 after OK).
    virtual int RunAddProxyDialog() = 0;
    // Opens a file of the current directory with the desktop's program for it.
    virtual void OpenFile(std::string_view file) = 0;
};

// What the page needs of the main window.
class ISettingsPageHost {
public:
    virtual ~ISettingsPageHost() = default;
    // Where the page waits on the network and on its list file, the window
    // answering meanwhile.
    virtual IResponsiveWait& Waits() = 0;
    virtual void SetCachedUseProxy(int value) = 0;
    // Whether anonymous browsing runs now: what the enable box shows.
    virtual bool AnonymousBrowsingOn() const = 0;
    virtual void OnToggleProxy() = 0;
    virtual void ApplyProxySelection(const std::string& proxyText) = 0;
    virtual void StartProxyGenerator() = 0;
};

// Where the list check of the page reports.
struct SettingsPageChecks {
    // The latest results, kept beside the list in the application folder;
    // none: the page keeps them to itself.
    ProxyCheckResults* results = nullptr;
    // To the window's thread; none: nothing is checked.
    std::shared_ptr<IWindowPost> post;
    ProxyCheckOptions options;  // the vendor's judge unless a test names one
};

class CSettingsPage {
public:
    // `appPath` is the application folder copied at start-up.
    CSettingsPage(SettingsCatalogue& settings, IRegistryStore& store, std::string_view appPath,
                  IConnectionOptions& browser, IMessageBox& messages, IProxyProbe& probe,
                  ISettingsPageHost& host, const SettingsPageChecks& checks = {});

    // Runs once, when the sheet creates the page. True: set the default focus.
    bool OnInitDialog(ISettingsPageView& view);
    void OnEnableClicked(ISettingsPageView& view);
    void OnPick(ISettingsPageView& view);
    void OnAddNewProxy(ISettingsPageView& view);
    void OnUpdateProxyList(ISettingsPageView& view);
    void OnSaveSettings(ISettingsPageView& view);
    void OnHelp(ISettingsPageView& view);
    // Anonymous browsing was switched on or off (or an attempt failed): the
    // box shows what runs.
    void ShowSwitchState(ISettingsPageView& view, bool on);

    int EnableFlag() const { return m_enable; }

private:
    // Runs the job in the host's wait; false when the program is ending,
    // and the page's operation ends there, without a word.
    bool Wait(const std::function<void(std::stop_token)>& job);
    // The entries of a list text that are not listed yet, built away from
    // the window's thread; false when the program is ending.
    bool EntriesOf(std::string_view text, ProxyEntries& entries);
    // Hands the view what it does not hold yet, with the marks of the
    // entries checked so far.
    void List(ISettingsPageView& view, const ProxyEntries& entries);
    // Checks the entries in the background; their marks follow as results
    // come, on the view the page was last shown in.
    void Check(ISettingsPageView& view, std::vector<std::string> endpoints);
    void OnChecked(const ProxyCheckResult& result);
    // The probe's figures taken in the host's wait, with its messages.
    void Test(const std::string& text, const std::function<void()>& onAvailable = {});

    SettingsCatalogue& m_settings;
    IRegistryStore& m_store;
    ProxyListFile m_listFile;
    IConnectionOptions& m_browser;
    IMessageBox& m_messages;
    IProxyProbe& m_probe;
    ISettingsPageHost& m_host;
    int m_enable = 0;
    ProxyEntries m_listed;  // what the selection list holds
    std::string m_appPath;
    ProxyCheckResults m_ownResults;
    ProxyCheckResults& m_results;
    ISettingsPageView* m_view = nullptr;  // where the marks of a running check go
    // Last: stopped before anything its results reach goes.
    ProxyListCheck m_check;
};

// The Add Proxy dialog's OK: keeps a non-empty text in TMPProxy, warns about
// an empty one; the dialog ends with 0 either way.
class CAddProxyDialog {
public:
    CAddProxyDialog(IRegistryStore& store, IMessageBox& messages)
        : m_store(store), m_messages(messages) {}
    int OnOK(const std::string& proxyText);

private:
    IRegistryStore& m_store;
    IMessageBox& m_messages;
};
