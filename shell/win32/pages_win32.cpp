#include "pages_win32.h"

#include <shellapi.h>

#include "resource_ids.h"

static_assert(IDC_ENABLE == kSettingsEnable && IDC_ADD_PROXY == kSettingsAddProxy &&
              IDC_UPDATE_LIST == kSettingsUpdateList && IDC_PROXY_LIST == kSettingsProxyList &&
              IDC_SAVE_SETTINGS == kSettingsSave && IDC_HELP_FILE == kSettingsHelp &&
              IDC_PROXY_EDIT == kAddProxyEdit);
static_assert(IDC_BLOCK_POPUPS == kPrivacyBlockPopups && IDC_POPUP_COUNT == kPrivacyPopupCount &&
              IDC_CLEAR_TMP_FILES == kPrivacyClearTmpFiles &&
              IDC_CLEAR_COOKIES == kPrivacyClearCookies &&
              IDC_DELETE_ADDRESSES == kPrivacyDeleteAddresses &&
              IDC_DELETE_HISTORY == kPrivacyDeleteHistory && IDC_ENABLE == kPrivacyEnableJS &&
              IDC_ENABLE_ACTIVEX == kPrivacyEnableActiveX &&
              IDC_SAVE_SETTINGS == kPrivacySaveSettings && IDC_HELP_FILE == kPrivacyHelp);

void OpenHelpFile(std::string_view file) {
    const std::string name(file);
    ShellExecuteA(nullptr, "open", name.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

void CMessageBoxWin32::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    const UINT style = MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : 0);
    MessageBoxA(m_owner != nullptr && IsWindow(m_owner) ? m_owner : nullptr, text.c_str(),
                caption.c_str(), style);
}

CAddProxyDialogWin32::CAddProxyDialogWin32(HINSTANCE instance, IRegistryStore& store,
                                           IMessageBox& messages)
    : CDialogWin32(instance, IDD_ADD_PROXY), m_presenter(store, messages) {}

bool CAddProxyDialogWin32::OnInitDialog() {
    // No length limit on the proxy text.
    SendDlgItemMessageA(Window(), IDC_PROXY_EDIT, EM_LIMITTEXT, 0, 0);
    return true;
}

void CAddProxyDialogWin32::OnCommand(int id, int code, HWND control) {
    if (id == IDOK) {
        EndDialog(Window(), m_presenter.OnOK(ItemText(IDC_PROXY_EDIT)));
        return;
    }
    CDialogWin32::OnCommand(id, code, control);
}

CSettingsPageWin32::CSettingsPageWin32(HINSTANCE instance, CSettingsPage& presenter,
                                       IRegistryStore& store, IMessageBox& messages)
    : CDialogWin32(instance, IDD_SETTINGS_PAGE),
      m_presenter(presenter),
      m_store(store),
      m_messages(messages) {}

namespace {

// At the place the page's order gives: CB_INSERTSTRING does not sort, even in
// a CBS_SORT box, where CB_ADDSTRING would search for the place of each item
// (by the locale's rules, not the page's).
void InsertString(HWND list, std::size_t at, const std::string& text) {
    SendMessageA(list, CB_INSERTSTRING, static_cast<WPARAM>(at),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

constexpr std::size_t kAppend = static_cast<std::size_t>(-1);

}  // namespace

void CSettingsPageWin32::ShowEntries(const ProxyEntries& entries) {
    const std::size_t added = entries.Size() - m_shown.Size();
    if (added == 0) {
        return;
    }
    const HWND list = GetDlgItem(Window(), IDC_PROXY_LIST);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    if (m_shown.Empty() || added > m_shown.Size() / 16) {
        // Filled anew in one pass once an insertion for each would move more
        // items than that.
        const std::string edit = ItemText(IDC_PROXY_LIST);
        const LRESULT picked = SendMessageA(list, CB_GETCURSEL, 0, 0);
        const std::string pickedText =
            picked < 0 ? std::string() : m_shown[static_cast<std::size_t>(picked)];
        SendMessageA(list, CB_RESETCONTENT, 0, 0);
        std::size_t bytes = 0;
        for (const std::string& entry : entries) {
            bytes += entry.size() + 1;
        }
        SendMessageA(list, CB_INITSTORAGE, entries.Size(), static_cast<LPARAM>(bytes));
        for (const std::string& entry : entries) {
            InsertString(list, kAppend, entry);
        }
        // Emptying the list empties its edit field too: both are put back.
        if (picked >= 0) {
            SendMessageA(list, CB_SETCURSEL, entries.Find(pickedText), 0);
        }
        SetDlgItemTextA(Window(), IDC_PROXY_LIST, edit.c_str());
    } else {
        // The shown entries are among the new ones in the same order.
        std::size_t old = 0;
        for (std::size_t row = 0; row < entries.Size(); ++row) {
            if (old < m_shown.Size() && entries[row] == m_shown[old]) {
                ++old;
            } else {
                InsertString(list, row, entries[row]);
            }
        }
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    m_shown = entries;
}

void CSettingsPageWin32::SetEnableCheck(bool checked) {
    CheckDlgButton(Window(), IDC_ENABLE, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CSettingsPageWin32::EnableCheck() {
    return IsDlgButtonChecked(Window(), IDC_ENABLE) == BST_CHECKED;
}

std::string CSettingsPageWin32::SelectedItemText() {
    const LRESULT index = SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) {
        return {};
    }
    const LRESULT length = SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_GETLBTEXT, index,
                                               reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
}

void CSettingsPageWin32::SetEditText(const std::string& text) {
    SetDlgItemTextA(Window(), IDC_PROXY_LIST, text.c_str());
}

int CSettingsPageWin32::RunAddProxyDialog() {
    CAddProxyDialogWin32 dialog(Instance(), m_store, m_messages);
    return static_cast<int>(dialog.RunModal(GetAncestor(Window(), GA_ROOT)));
}

void CSettingsPageWin32::OpenFile(std::string_view file) {
    OpenHelpFile(file);
}

void CSettingsPageWin32::OnCommand(int id, int code, HWND) {
    if (id == IDC_PROXY_LIST) {
        if (code == CBN_SELCHANGE) {
            m_presenter.OnPick(*this);
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    switch (id) {
        case IDC_ENABLE:
            m_presenter.OnEnableClicked(*this);
            break;
        case IDC_ADD_PROXY:
            m_presenter.OnAddNewProxy(*this);
            break;
        case IDC_UPDATE_LIST:
            m_presenter.OnUpdateProxyList(*this);
            break;
        case IDC_SAVE_SETTINGS:
            m_presenter.OnSaveSettings(*this);
            break;
        case IDC_HELP_FILE:
            m_presenter.OnHelp(*this);
            break;
        default:
            break;
    }
}

CPrivacyPageWin32::CPrivacyPageWin32(HINSTANCE instance, CMainDialog& mainDialog)
    : CDialogWin32(instance, IDD_PRIVACY_PAGE), m_mainDialog(mainDialog) {}

void CPrivacyPageWin32::SetCheck(int control, bool checked) {
    CheckDlgButton(Window(), control, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CPrivacyPageWin32::GetCheck(int control) {
    return IsDlgButtonChecked(Window(), control) == BST_CHECKED;
}

void CPrivacyPageWin32::SetText(int control, std::string_view text) {
    SetDlgItemTextA(Window(), control, std::string(text).c_str());
}

void CPrivacyPageWin32::OpenFile(std::string_view file) {
    OpenHelpFile(file);
}

bool CPrivacyPageWin32::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR&) {
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        m_mainDialog.OnPrivacyPageShown(*this);
    }
    return false;  // the sheet's own handling: the page becomes active
}

void CPrivacyPageWin32::OnCommand(int id, int code, HWND) {
    if (code != BN_CLICKED) {
        return;
    }
    if (id == IDC_SAVE_SETTINGS) {
        m_mainDialog.PrivacyPage().OnSaveSettings(*this);
    } else if (id == IDC_HELP_FILE) {
        m_mainDialog.PrivacyPage().OnHelp(*this);
    }
}
