#include "property_sheet_win32.h"

namespace {

// Clipping siblings keeps the sheet off the logo that lies above it.
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr DWORD kKeptStyles = DS_SETFONT | DS_3DLOOK | DS_FIXEDSYS;
constexpr LONG kFrameStyles = WS_BORDER | WS_DLGFRAME | WS_SYSMENU | WS_THICKFRAME;
constexpr LONG kFrameExStyles = WS_EX_DLGMODALFRAME | WS_EX_CLIENTEDGE | WS_EX_STATICEDGE;
constexpr UINT kFrameChanged =
    SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
constexpr int kSheetButtons[] = {IDOK, IDCANCEL, IDHELP, 0x3021 /* Apply */};

// The extended dialog template the sheet builds for itself.
struct DialogTemplateEx {
    WORD version;
    WORD signature;
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
};

void ChangeStyle(HWND window, int which, LONG remove, LONG add) {
    const LONG style = GetWindowLongA(window, which);
    const LONG changed = (style & ~remove) | add;
    if (changed != style) {
        SetWindowLongA(window, which, changed);
        SetWindowPos(window, nullptr, 0, 0, 0, 0, kFrameChanged);
    }
}

}  // namespace

CExtChildResizablePropertySheet::~CExtChildResizablePropertySheet() {
    if (m_window != nullptr && IsWindow(m_window)) {
        RemoveWindowSubclass(m_window, &SubclassProc, 0);
        DestroyWindow(m_window);
    }
}

int CALLBACK CExtChildResizablePropertySheet::Callback(HWND, UINT message, LPARAM lParam) {
    // Before the sheet's window exists: a child, without the dialog frame.
    if (message == PSCB_PRECREATE && lParam != 0) {
        auto* extended = reinterpret_cast<DialogTemplateEx*>(lParam);
        if (extended->signature == 0xFFFF) {
            extended->style = kChildStyle | (extended->style & kKeptStyles);
            extended->exStyle = 0;
        } else {
            auto* plain = reinterpret_cast<DLGTEMPLATE*>(lParam);
            plain->style = kChildStyle | (plain->style & kKeptStyles);
            plain->dwExtendedStyle = 0;
        }
    }
    return 0;
}

int CExtChildResizablePropertySheet::Create(HWND parent, HINSTANCE instance) {
    if (m_window != nullptr || m_pages.empty()) {
        return 0;
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags =
        PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_USECALLBACK | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
    header.hwndParent = parent;
    header.hInstance = instance;
    header.nPages = static_cast<UINT>(m_pages.size());
    header.ppsp = m_pages.data();
    header.pszCaption = "";
    header.pfnCallback = &Callback;
    const INT_PTR created = PropertySheetA(&header);
    if (created == 0 || created == -1) {
        return 0;
    }
    m_window = reinterpret_cast<HWND>(created);
    // Modeless: each page carries its own buttons, the sheet shows none.
    for (const int id : kSheetButtons) {
        if (const HWND button = GetDlgItem(m_window, id)) {
            ShowWindow(button, SW_HIDE);
            EnableWindow(button, FALSE);
        }
    }
    ChangeStyle(m_window, GWL_STYLE, kFrameStyles, 0);
    ChangeStyle(m_window, GWL_EXSTYLE, kFrameExStyles, 0);
    SetWindowSubclass(m_window, &SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
    FitToPages();
    return 1;
}

void CExtChildResizablePropertySheet::FitToPages() {
    // The sheet's own size: the tab control just around the active page,
    // the sheet just around the tab control.
    const HWND page = PropSheet_GetCurrentPageHwnd(m_window);
    const HWND tabs = PropSheet_GetTabControl(m_window);
    if (page == nullptr || tabs == nullptr) {
        return;
    }
    Layout();  // the tab options change the strip's height
    if (m_pageTop > 0) {
        RECT display{0, 0, 1000, 1000};
        TabCtrl_AdjustRect(tabs, FALSE, &display);
        RECT item{};
        TabCtrl_GetItemRect(tabs, 0, &item);
        const int height = item.bottom - item.top + m_pageTop - display.top;
        if (height > 0) {
            TabCtrl_SetItemSize(tabs, 0, height);
        }
    }
    RECT area{};
    GetWindowRect(page, &area);
    OffsetRect(&area, -area.left, -area.top);
    TabCtrl_AdjustRect(tabs, TRUE, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    SetWindowPos(tabs, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_window, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void CExtChildResizablePropertySheet::Layout() {
    const HWND page = m_window != nullptr ? PropSheet_GetCurrentPageHwnd(m_window) : nullptr;
    const HWND tabs = m_window != nullptr ? PropSheet_GetTabControl(m_window) : nullptr;
    if (page == nullptr || tabs == nullptr || !IsWindow(page) || !IsWindow(tabs)) {
        return;
    }
    if (!m_applied) {
        m_applied = true;
        LONG remove = 0;
        LONG add = 0;
        if (m_singleLine) {
            remove |= TCS_MULTILINE;
        }
        if (m_buttons) {
            add |= TCS_BUTTONS;
            if (m_flatButtons) {
                add |= TCS_FLATBUTTONS;
            }
        }
        if (remove != 0 || add != 0) {
            ChangeStyle(tabs, GWL_STYLE, remove, add);
        }
        if (m_buttons && m_flatButtons && m_flatSeparators) {
            SendMessageA(tabs, TCM_SETEXTENDEDSTYLE, TCS_EX_FLATSEPARATORS, TCS_EX_FLATSEPARATORS);
        }
    }
    RECT area{};
    GetClientRect(m_window, &area);
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    MoveWindow(page, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
}

bool CExtChildResizablePropertySheet::PreTranslateMessage(const MSG& message) {
    if (m_window == nullptr || message.message != WM_KEYDOWN || message.wParam != VK_TAB ||
        (GetKeyState(VK_CONTROL) & 0x8000) == 0) {
        return false;
    }
    const HWND focus = GetFocus();
    if (focus != m_window && !IsChild(m_window, focus)) {
        return false;
    }
    SwitchPage((GetKeyState(VK_SHIFT) & 0x8000) != 0 ? -1 : 1);
    return true;
}

void CExtChildResizablePropertySheet::SwitchPage(int step) {
    const HWND tabs = PropSheet_GetTabControl(m_window);
    const int count = static_cast<int>(m_pages.size());
    const int next = (TabCtrl_GetCurSel(tabs) + step + count) % count;
    PropSheet_SetCurSel(m_window, nullptr, next);
    SetFocus(tabs);
    Layout();
}

LRESULT CALLBACK CExtChildResizablePropertySheet::SubclassProc(HWND window, UINT message,
                                                               WPARAM wParam, LPARAM lParam,
                                                               UINT_PTR, DWORD_PTR data) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    auto* self = reinterpret_cast<CExtChildResizablePropertySheet*>(data);
    switch (message) {
        case WM_SIZE:
        case WM_MOVE:
        case PSM_SETCURSEL:
            self->Layout();
            break;
        case WM_NOTIFY:
            // A tab chosen with the mouse: the sheet has shown the new page.
            if (reinterpret_cast<const NMHDR*>(lParam)->code == static_cast<UINT>(TCN_SELCHANGE)) {
                self->Layout();
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(window, &SubclassProc, 0);
            self->m_window = nullptr;
            break;
        default:
            break;
    }
    return result;
}
