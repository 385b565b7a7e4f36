#include "main_window_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "resource_ids.h"

static_assert(IDR_MAINFRAME == kIconResource && IDR_TRAY_MENU == kTrayMenuResource &&
              IDS_ABOUTBOX == kAboutStringResource && IDM_ABOUTBOX == kSysCommandAbout);
static_assert(ID_TRAY_ENABLE == kCommandEnable && ID_TRAY_CONFIGURATION == kCommandConfiguration &&
              ID_TRAY_HIDE_MENU == kCommandHideMenu && ID_TRAY_EXIT == kCommandExit);

IconHandle LoadIconAtSize(HINSTANCE instance, int id, int size) {
    return IconHandle(static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

namespace {

// The shell-5.0 record (488 bytes in a 32-bit program), every later field
// zero.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAA_V2_SIZE;

// Copies what fits, always ending in a zero.
template <std::size_t N>
void CopyCut(char (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

NOTIFYICONDATAA RecordData(const TrayIconRecord& record) {
    NOTIFYICONDATAA data{};
    data.cbSize = kTrayRecordSize;
    data.hWnd = reinterpret_cast<HWND>(record.window);
    data.uID = record.id;
    data.uFlags = record.flags;
    data.uCallbackMessage = record.callbackMessage;
    data.hIcon = reinterpret_cast<HICON>(record.icon);
    CopyCut(data.szTip, record.tip);
    return data;
}

bool Notify(DWORD operation, const TrayIconRecord& record) {
    NOTIFYICONDATAA data = RecordData(record);
    return Shell_NotifyIconA(operation, &data) != FALSE;
}

// The first child of the window whose id is -1, as the template numbers it.
HWND FirstStaticChild(HWND window) {
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (LOWORD(GetDlgCtrlID(child)) == 0xFFFF) {
            return child;
        }
    }
    return nullptr;
}

// Where the pages begin (dialog units of this window): the logo, from 11
// to 30, stands beside the tabs and above the Settings page's list.
constexpr int kPageTopUnits = 21;

MainDialogServices WithWindowServices(MainDialogServices services, IResponsiveWait& wait,
                                      IWindowPost& post) {
    services.wait = &wait;
    services.post = &post;
    return services;
}

constexpr UINT kInitMessage = WM_APP + 1;

bool IsTrayCommand(int id) {
    return id == kCommandEnable || id == kCommandConfiguration || id == kCommandHideMenu ||
           id == kCommandExit;
}

}  // namespace

CMainWindowWin32::CMainWindowWin32(HINSTANCE instance, const MainDialogServices& services,
                                   CMessageBoxWin32& messages)
    : m_instance(instance),
      m_store(services.store),
      m_messages(messages),
      m_bigIcon(LoadIconAtSize(instance, IDR_MAINFRAME, GetSystemMetrics(SM_CXICON))),
      m_smallIcon(LoadIconAtSize(instance, IDR_MAINFRAME, GetSystemMetrics(SM_CXSMICON))),
      m_presenter(*this, WithWindowServices(services, m_wait, m_post)) {}

CMainWindowWin32::~CMainWindowWin32() {
    if (m_window != nullptr && IsWindow(m_window)) {
        DestroyWindow(m_window);
    }
}

int CMainWindowWin32::Run() {
    m_window = CreateDialogParamA(m_instance, MAKEINTRESOURCEA(IDD_QUILLON_DIALOG), nullptr,
                                  &DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_window == nullptr) {
        return -1;
    }
    // The dialog's own modal loop, with the sheet's keys first.
    MSG message{};
    while (!m_ended) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        if (!PreTranslateMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    DestroyWindow(m_window);
    m_window = nullptr;
    return m_result;
}

bool CMainWindowWin32::PreTranslateMessage(MSG& message) {
    if (m_sheet && m_sheet->PreTranslateMessage(message)) {
        return true;
    }
    return IsDialogMessageA(m_window, &message) != FALSE;
}

INT_PTR CALLBACK CMainWindowWin32::DialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<CMainWindowWin32*>(lParam)->m_window = window;
    }
    auto* self = reinterpret_cast<CMainWindowWin32*>(GetWindowLongPtrA(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CMainWindowWin32::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog() ? TRUE : FALSE;
        case kInitMessage:
            m_presenter.OnInitDialog();
            return TRUE;
        case CWindowPostWin32::kMessage:
            m_post.RunPosted();
            return TRUE;
        case WM_SYSCOMMAND:
            if (m_presenter.OnSysCommand(static_cast<unsigned>(wParam))) {
                SetWindowLongPtrA(m_window, DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (IsIconic(m_window)) {
                PaintIconic();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_bigIcon.get());
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED) {
                m_presenter.OnMinimized();
                return TRUE;
            }
            return FALSE;
        case WM_TIMER:
            m_presenter.OnTimer(static_cast<int>(wParam));
            return FALSE;
        case WM_INITMENUPOPUP:
            // The command-update pass: only "Enable Quillon" has a state.
            if (HIWORD(lParam) == FALSE) {
                const auto menu = reinterpret_cast<HMENU>(wParam);
                CheckMenuItem(
                    menu, kCommandEnable,
                    MF_BYCOMMAND | (m_presenter.EnableChecked() ? MF_CHECKED : MF_UNCHECKED));
                EnableMenuItem(menu, kCommandEnable,
                               MF_BYCOMMAND | (m_busy ? MF_GRAYED : MF_ENABLED));
            }
            return FALSE;
        case WM_SETCURSOR:
            if (m_busy) {
                SetCursor(LoadCursorA(nullptr, IDC_WAIT));
                SetWindowLongPtrA(m_window, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK) {
                m_presenter.OnOK();
            } else if (id == IDCANCEL) {
                m_presenter.OnCancel();
            } else if (lParam == 0 && IsTrayCommand(id)) {
                m_presenter.OnCommand(id);
            }
            return TRUE;
        }
        case kTrayCallbackMessage:
            m_presenter.OnTrayNotify(wParam, static_cast<std::uintptr_t>(lParam));
            return TRUE;
        case WM_ENDSESSION:
            // Windows may end the process as soon as this returns.
            if (wParam != FALSE) {
                m_presenter.OnEndSession();
            }
            return TRUE;
        case WM_DESTROY:
            m_presenter.OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

bool CMainWindowWin32::OnInitDialog() {
    m_messages.SetOwner(m_window);
    m_post.SetWindow(m_window);
    m_presenter.OnCreate(reinterpret_cast<std::uintptr_t>(m_window));
    SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.get()));
    SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
    // The presenter's part once the window is up, as its template asks:
    // its waits let the start timer run, which must find the window shown
    // (the dialog would otherwise be shown again after this message).
    PostMessageA(m_window, kInitMessage, 0, 0);
    return true;
}

void CMainWindowWin32::PaintIconic() {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(m_window, &paint);
    SendMessageA(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(m_window, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_bigIcon.get());
    EndPaint(m_window, &paint);
}

bool CMainWindowWin32::AddIcon(const TrayIconRecord& record) {
    return Notify(NIM_ADD, record);
}

bool CMainWindowWin32::DeleteIcon(const TrayIconRecord& record) {
    return Notify(NIM_DELETE, record);
}

bool CMainWindowWin32::ModifyIcon(const TrayIconRecord& record) {
    return Notify(NIM_MODIFY, record);
}

std::uintptr_t CMainWindowWin32::LoadIconResource(int id) {
    // The notification area shows the small picture of icon 128.
    return id == IDR_MAINFRAME ? reinterpret_cast<std::uintptr_t>(m_smallIcon.get()) : 0;
}

std::uintptr_t CMainWindowWin32::LoadMenuResource(int id) {
    m_trayMenu.reset(LoadMenuA(m_instance, MAKEINTRESOURCEA(id)));
    return reinterpret_cast<std::uintptr_t>(m_trayMenu.get());
}

void CMainWindowWin32::TrackTrayMenu(std::uintptr_t menu, int x, int y, int defaultPosition) {
    const HMENU popup = GetSubMenu(reinterpret_cast<HMENU>(menu), 0);
    if (popup == nullptr) {
        return;
    }
    TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, x, y, 0, m_window, nullptr);
    SetMenuDefaultItem(popup, static_cast<UINT>(defaultPosition), TRUE);
}

void CMainWindowWin32::CursorPosition(int& x, int& y) {
    POINT point{};
    GetCursorPos(&point);
    x = point.x;
    y = point.y;
}

void CMainWindowWin32::ShowWindow(WindowShow how) {
    switch (how) {
        case WindowShow::Hide:
            ::ShowWindow(m_window, SW_HIDE);
            break;
        case WindowShow::Show:
            ::ShowWindow(m_window, SW_SHOW);
            PrivacyPageShown();
            break;
        case WindowShow::Minimize:
            ::ShowWindow(m_window, SW_MINIMIZE);
            break;
        case WindowShow::ShowDefault:
            ::ShowWindow(m_window, SW_SHOWDEFAULT);
            BringWindowToTop(m_window);
            SetForegroundWindow(m_window);
            PrivacyPageShown();
            break;
    }
}

void CMainWindowWin32::PrivacyPageShown() {
    // Shown again on the Privacy page: its count as it stands now.
    if (m_privacyPage && m_privacyPage->Window() != nullptr &&
        IsWindowVisible(m_privacyPage->Window())) {
        m_presenter.OnPrivacyPageShown(*m_privacyPage);
    }
}

std::string CMainWindowWin32::LoadStringResource(int id) {
    char text[256] = {};
    const int length = LoadStringA(m_instance, static_cast<UINT>(id), text, sizeof text);
    return std::string(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

void CMainWindowWin32::AppendAboutItem(const std::string& text) {
    const HMENU system = GetSystemMenu(m_window, FALSE);
    if (system != nullptr) {
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, kSysCommandAbout, text.c_str());
    }
}

void CMainWindowWin32::SetTimer(int id, int milliseconds) {
    ::SetTimer(m_window, static_cast<UINT_PTR>(id), static_cast<UINT>(milliseconds), nullptr);
}

void CMainWindowWin32::KillTimer(int id) {
    ::KillTimer(m_window, static_cast<UINT_PTR>(id));
}

void CMainWindowWin32::CreateConfigurationSheet() {
    m_settingsPage = std::make_unique<CSettingsPageWin32>(m_instance, m_presenter.SettingsPage(),
                                                          m_store, m_messages);
    m_privacyPage = std::make_unique<CPrivacyPageWin32>(m_instance, m_presenter);
    m_sheet = std::make_unique<CExtChildResizablePropertySheet>();
    m_sheet->SetSingleLineTabs(true);
    m_sheet->SetButtonTabs(true);
    m_sheet->SetFlatButtonTabs(true);
    m_sheet->SetFlatSeparators(true);
    // The pages start below the logo's top, the tabs to its left.
    RECT pageTop{0, 0, 0, kPageTopUnits};
    MapDialogRect(m_window, &pageTop);
    m_sheet->SetPageTop(pageTop.bottom);
    m_sheet->AddPage(m_settingsPage->PageRecord());
    m_sheet->AddPage(m_privacyPage->PageRecord());
    if (m_sheet->Create(m_window, m_instance) == 0) {
        return;
    }
    const HWND sheet = m_sheet->Window();
    SetWindowLongA(sheet, GWL_EXSTYLE, GetWindowLongA(sheet, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    SetWindowLongA(sheet, GWL_STYLE, GetWindowLongA(sheet, GWL_STYLE) | WS_TABSTOP);
    // The sheet's corner goes to the frame placeholder's; it keeps its size.
    if (const HWND frame = FirstStaticChild(m_window)) {
        RECT place{};
        GetWindowRect(frame, &place);
        MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(sheet, nullptr, place.left, place.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        // The frame under the sheet, the logo over it.
        SetWindowPos(frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CMainWindowWin32::RunAboutBox() {
    CAboutDialog about(m_instance);
    about.RunModal(nullptr);
}

void CMainWindowWin32::EndDialog(int result) {
    m_result = result;
    m_ended = true;
}

void CMainWindowWin32::SetBusy(bool busy) {
    m_busy = busy;
    // Drawn and answering, but taking no clicks: the wait's caller goes on
    // from where it stands once the wait is over.
    EnableWindow(m_window, busy ? FALSE : TRUE);
    SetCursor(LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void CMainWindowWin32::ShowNotification(const TrayIconRecord& record, const std::string& title,
                                        const std::string& text) {
    // A balloon from the icon; without the icon the shell refuses it, and
    // the Settings page alone shows the change.
    NOTIFYICONDATAA data = RecordData(record);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    CopyCut(data.szInfoTitle, title);
    CopyCut(data.szInfo, text);
    Shell_NotifyIconA(NIM_MODIFY, &data);
}

void CMainWindowWin32::ShowProxyChoice(const std::string& text) {
    if (m_settingsPage && m_settingsPage->Window() != nullptr) {
        m_settingsPage->ShowChoice(text);
    }
}

void CMainWindowWin32::RefreshControls() {
    if (m_settingsPage && m_settingsPage->Window() != nullptr) {
        m_presenter.SettingsPage().ShowSwitchState(*m_settingsPage, m_presenter.EnableChecked());
    }
}
