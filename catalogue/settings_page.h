// The Settings page of the configuration sheet and its Add Proxy dialog, as
// presenters: they read and write the settings, fetch and load the proxy
// list and test proxies; the views only draw the controls and forward the
// clicks.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "connection_options.h"
#include "message_box.h"
#include "proxy_list.h"
#include "proxy_probe.h"
#include "settings_catalogue.h"

// Control ids of dialogs 133 and 132.
enum SettingsControl : int {
    kSettingsEnable = 1002,
    kSettingsAddProxy = 1026,
    kSettingsUpdateList = 1027,
    kSettingsProxyList = 1028,
    kSettingsSave = 1029,
    kSettingsHelp = 1030,
    kAddProxyEdit = 1022,
};

inline constexpr const char* kSettingsPageTitle = "Settings";
inline constexpr const char* kListUpdatedText = "Proxy List Updated";
inline constexpr const char* kEnterProxyText = "Please enter a proxy address";

class ISettingsPageView : public ISelectionList {
public:
    // The enable check box.
    virtual void SetEnableCheck(bool checked) = 0;
    virtual bool EnableCheck() = 0;
    // The selection list: the text of the item now selected, and the text of
    // its edit field.
    virtual std::string SelectedItemText() = 0;
    virtual std::string EditText() = 0;
    virtual void SetEditText(const std::string& text) = 0;
    // Runs the Add Proxy dialog modally; its end result (0 after OK).
    virtual int RunAddProxyDialog() = 0;
    // Opens a file of the current directory with the desktop's program for it.
    virtual void OpenFile(std::string_view file) = 0;
    // Shows that the page waits for the network (a busy cursor).
    virtual void SetBusy(bool busy) = 0;
};

// What the page needs of the main window.
class ISettingsPageHost {
public:
    virtual ~ISettingsPageHost() = default;
    virtual void SetCachedUseProxy(int value) = 0;
    // Whether anonymous browsing runs now: what the enable box shows.
    virtual bool AnonymousBrowsingOn() const = 0;
    virtual void OnToggleProxy() = 0;
    virtual void ApplyProxySelection(const std::string& proxyText) = 0;
    virtual void StartProxyGenerator() = 0;
};

class CSettingsPage {
public:
    // `appPath` is the application folder copied at start-up.
    CSettingsPage(SettingsCatalogue& settings, IRegistryStore& store, std::string_view appPath,
                  IConnectionOptions& browser, IMessageBox& messages, IProxyProbe& probe,
                  ISettingsPageHost& host);

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
    // The selection list as the list file's operations fill it: an endpoint
    // that is listed already is not listed again.
    class ListedOnce final : public ISelectionList {
    public:
        ListedOnce(std::set<std::string>& listed, ISelectionList& list)
            : m_listed(listed), m_list(list) {}
        void AddItem(const std::string& text) override {
            if (m_listed.insert(text).second) {
                m_list.AddItem(text);
            }
        }

    private:
        std::set<std::string>& m_listed;
        ISelectionList& m_list;
    };
    ListedOnce List(ISelectionList& view) { return ListedOnce(m_listed, view); }

    SettingsCatalogue& m_settings;
    IRegistryStore& m_store;
    ProxyListFile m_listFile;
    IConnectionOptions& m_browser;
    IMessageBox& m_messages;
    IProxyProbe& m_probe;
    ISettingsPageHost& m_host;
    int m_enable = 0;
    std::set<std::string> m_listed;  // every text in the selection list
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
