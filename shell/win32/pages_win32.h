// The two pages of the configuration sheet (templates 133 and 134), the Add
// Proxy dialog (132) and the message box: they show the controls and hand
// every click to the presenters.
#pragma once

#include "dialog_win32.h"
#include "main_dialog.h"
#include "message_box.h"
#include "privacy_page.h"
#include "registry_store.h"
#include "settings_page.h"

// Modal boxes owned by the main window once it exists.
class CMessageBoxWin32 final : public IMessageBox {
public:
    void SetOwner(HWND owner) { m_owner = owner; }
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    HWND m_owner = nullptr;
};

class CAddProxyDialogWin32 final : public CDialogWin32 {
public:
    CAddProxyDialogWin32(HINSTANCE instance, IRegistryStore& store, IMessageBox& messages);

private:
    bool OnInitDialog() override;
    void OnCommand(int id, int code, HWND control) override;

    CAddProxyDialog m_presenter;
};

class CSettingsPageWin32 final : public CDialogWin32, public ISettingsPageView {
public:
    CSettingsPageWin32(HINSTANCE instance, CSettingsPage& presenter, IRegistryStore& store,
                       IMessageBox& messages);

    // ISettingsPageView
    void ShowEntries(const ProxyEntries& entries) override;
    void ShowEntryChecks(const std::vector<EntryCheck>& checks) override;
    void SetEnableCheck(bool checked) override;
    bool EnableCheck() override;
    void SetAutoSwitchCheck(bool checked) override;
    bool AutoSwitchCheck() override;
    std::string SelectedItemText() override;
    std::string EditText() override { return ItemText(kSettingsProxyList); }
    void SetEditText(const std::string& text) override;
    // The entry of that text selected, or, without one, the text in the
    // edit field.
    void ShowChoice(const std::string& text);
    int RunAddProxyDialog() override;
    void OpenFile(std::string_view file) override;

private:
    bool OnInitDialog() override;
    void OnCommand(int id, int code, HWND control) override;
    // The list's items drawn with their marks, and the tooltips.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void DrawItem(const DRAWITEMSTRUCT& item);
    // The words of the mark of the entry under the mouse in the dropped
    // list, or else of the one picked.
    const char* TipText(HWND tool);

    CSettingsPage& m_presenter;
    IRegistryStore& m_store;
    IMessageBox& m_messages;
    ProxyEntries m_shown;  // what the selection list holds
    EntryMarks m_marks;
    HWND m_dropped = nullptr;  // the list box of the drop-down
    // Owned by the page, and destroyed with it.
    HWND m_tips = nullptr;
    std::string m_tipText;  // what the tooltip shows now
};

class CPrivacyPageWin32 final : public CDialogWin32, public IPrivacyPageView {
public:
    CPrivacyPageWin32(HINSTANCE instance, CMainDialog& mainDialog);

    // IPrivacyPageView
    void SetCheck(int control, bool checked) override;
    bool GetCheck(int control) override;
    void SetText(int control, std::string_view text) override;
    void OpenFile(std::string_view file) override;

private:
    // The count shown is the one stored now, pop-ups of this run included.
    bool OnInitDialog() override { return m_mainDialog.InitPrivacyPage(*this); }
    void OnCommand(int id, int code, HWND control) override;
    // Its tab chosen: the count as it stands now.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    CMainDialog& m_mainDialog;
};

// Opens a file of the current folder maximised with its program; a missing
// file does nothing visible.
void OpenHelpFile(std::string_view file);
