#include "pages_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <type_traits>

#include "resource_ids.h"

static_assert(IDC_ENABLE == kSettingsEnable && IDC_ADD_PROXY == kSettingsAddProxy &&
              IDC_UPDATE_LIST == kSettingsUpdateList && IDC_PROXY_LIST == kSettingsProxyList &&
              IDC_SAVE_SETTINGS == kSettingsSave && IDC_HELP_FILE == kSettingsHelp &&
              IDC_AUTO_SWITCH == kSettingsAutoSwitch && IDC_PROXY_EDIT == kAddProxyEdit);
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

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using GdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

// Halfway to the window's colour: the mark of a stale result.
COLORREF Faded(COLORREF color) {
    const COLORREF back = GetSysColor(COLOR_WINDOW);
    return RGB((GetRValue(color) + GetRValue(back)) / 2, (GetGValue(color) + GetGValue(back)) / 2,
               (GetBValue(color) + GetBValue(back)) / 2);
}

// The mark in a square `box` of the item: the shapes of the Qt list.
void DrawMark(HDC dc, RECT box, EntryMarkKind kind, bool stale) {
    if (kind == EntryMarkKind::kUnchecked) {
        return;
    }
    COLORREF color = RGB(0x2e, 0x9d, 0x3a);
    if (kind == EntryMarkKind::kUngraded || kind == EntryMarkKind::kTransparent) {
        color = RGB(0xf0, 0xa0, 0x1e);
    } else if (kind == EntryMarkKind::kDead || kind == EntryMarkKind::kBad) {
        color = RGB(0xd3, 0x2f, 0x2f);
    }
    if (stale) {
        color = Faded(color);
    }
    const bool hollow = kind == EntryMarkKind::kAnonymous || kind == EntryMarkKind::kBad;
    const GdiObject pen(CreatePen(PS_SOLID, hollow ? 2 : 1, color));
    const GdiObject brush(hollow ? nullptr : CreateSolidBrush(color));
    const HGDIOBJ oldPen = SelectObject(dc, pen.get());
    const HGDIOBJ oldBrush = SelectObject(dc, hollow ? GetStockObject(NULL_BRUSH) : brush.get());
    if (kind == EntryMarkKind::kTransparent) {
        const LONG cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
        const POINT corners[] = {{cx, box.top}, {box.right, cy}, {cx, box.bottom}, {box.left, cy}};
        Polygon(dc, corners, 4);
    } else if (kind == EntryMarkKind::kBad) {
        MoveToEx(dc, box.left, box.top, nullptr);
        LineTo(dc, box.right, box.bottom);
        MoveToEx(dc, box.right, box.top, nullptr);
        LineTo(dc, box.left, box.bottom);
    } else {
        Ellipse(dc, box.left, box.top, box.right, box.bottom);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

}  // namespace

bool CSettingsPageWin32::OnInitDialog() {
    const HWND list = GetDlgItem(Window(), IDC_PROXY_LIST);
    // Owner-drawn items are as high as the page's font asks, like the others.
    const HDC dc = GetDC(list);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageA(list, CB_SETITEMHEIGHT, 0, metrics.tmHeight + 2);

    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    if (GetComboBoxInfo(list, &parts)) {
        m_dropped = parts.hwndList;
    }
    m_tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Window(),
                             nullptr, Instance(), nullptr);
    for (const HWND tool : {list, parts.hwndItem, m_dropped}) {
        if (m_tips == nullptr || tool == nullptr) {
            continue;
        }
        TOOLINFOA info{};
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = Window();
        info.uId = reinterpret_cast<UINT_PTR>(tool);
        info.lpszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(m_tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    }
    return m_presenter.OnInitDialog(*this);
}

void CSettingsPageWin32::ShowEntryChecks(const std::vector<EntryCheck>& checks) {
    if (const auto rows = m_marks.Put(checks, m_shown.Size())) {
        InvalidateRect(GetDlgItem(Window(), IDC_PROXY_LIST), nullptr, FALSE);
        if (m_dropped != nullptr && IsWindowVisible(m_dropped)) {
            InvalidateRect(m_dropped, nullptr, FALSE);
        }
    }
}

bool CSettingsPageWin32::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR& result) {
    if (message == WM_DRAWITEM) {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.CtlID != IDC_PROXY_LIST) {
            return false;
        }
        DrawItem(item);
        result = TRUE;
        return true;
    }
    if (message == WM_NOTIFY) {
        auto& notice = *reinterpret_cast<NMTTDISPINFOA*>(lParam);
        if (notice.hdr.hwndFrom != m_tips || notice.hdr.code != TTN_GETDISPINFOA) {
            return false;
        }
        notice.lpszText = const_cast<char*>(TipText(reinterpret_cast<HWND>(notice.hdr.idFrom)));
        return true;
    }
    return false;
}

const char* CSettingsPageWin32::TipText(HWND tool) {
    LRESULT row = CB_ERR;
    if (tool == m_dropped) {
        POINT at{};
        GetCursorPos(&at);
        ScreenToClient(m_dropped, &at);
        const LRESULT hit = SendMessageA(m_dropped, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
        if (HIWORD(hit) == 0) {
            row = LOWORD(hit);
        }
    } else {
        row = SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_GETCURSEL, 0, 0);
    }
    m_tipText.clear();
    if (row >= 0 && static_cast<std::size_t>(row) < m_shown.Size()) {
        m_tipText =
            MarkText(m_marks.At(static_cast<std::size_t>(row)), std::chrono::system_clock::now());
    }
    return m_tipText.c_str();
}

void CSettingsPageWin32::DrawItem(const DRAWITEMSTRUCT& item) {
    const HDC dc = item.hDC;
    RECT area = item.rcItem;
    const bool picked = (item.itemState & ODS_SELECTED) != 0;
    const GdiObject back(CreateSolidBrush(GetSysColor(picked ? COLOR_HIGHLIGHT : COLOR_WINDOW)));
    FillRect(dc, &area, static_cast<HBRUSH>(back.get()));
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= m_shown.Size()) {
        return;
    }
    const ProxyCheckResult* result = m_marks.At(item.itemID);
    const int side = std::max<int>(4, area.bottom - area.top - 6);
    const RECT box{area.left + 3, area.top + (area.bottom - area.top - side) / 2,
                   area.left + 3 + side, area.top + (area.bottom - area.top - side) / 2 + side};
    const auto now = std::chrono::system_clock::now();
    DrawMark(dc, box, MarkKind(result), result != nullptr && IsStale(*result, now));
    area.left = box.right + 4;
    const bool works = result == nullptr || result->state == ProxyState::kAlive;
    SetTextColor(dc, GetSysColor(picked  ? COLOR_HIGHLIGHTTEXT
                                 : works ? COLOR_WINDOWTEXT
                                         : COLOR_GRAYTEXT));
    SetBkMode(dc, TRANSPARENT);
    const std::string& text = m_shown[item.itemID];
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if ((item.itemState & ODS_FOCUS) != 0) {
        DrawFocusRect(dc, &item.rcItem);
    }
}

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
    m_marks.Clear();
}

void CSettingsPageWin32::SetAutoSwitchCheck(bool checked) {
    CheckDlgButton(Window(), IDC_AUTO_SWITCH, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CSettingsPageWin32::AutoSwitchCheck() {
    return IsDlgButtonChecked(Window(), IDC_AUTO_SWITCH) == BST_CHECKED;
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

void CSettingsPageWin32::ShowChoice(const std::string& text) {
    const LRESULT index = SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_FINDSTRINGEXACT,
                                              static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(text.c_str()));
    if (index != CB_ERR) {
        SendDlgItemMessageA(Window(), IDC_PROXY_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    SetEditText(text);
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
