// A window that owns one notification-area icon: the icon record, show and
// remove, tooltip and menu, the icon's mouse events turned into five hooks,
// and optionally Close and Minimize turned into hiding behind the icon. The
// state rules live here; the shell calls go through ITrayShell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Messages and commands as the Windows shell numbers them.
inline constexpr unsigned kTrayCallbackMessage = 0x0401;  // WM_USER + 1
inline constexpr unsigned kTrayIconId = 1;
inline constexpr unsigned kTrayFlagMessage = 1;   // NIF_MESSAGE
inline constexpr unsigned kTrayFlagIcon = 2;      // NIF_ICON
inline constexpr unsigned kTrayFlagTip = 4;       // NIF_TIP
inline constexpr std::size_t kTrayTipSize = 128;  // 127 characters and a zero
inline constexpr unsigned kScClose = 0xF060;
inline constexpr unsigned kScMinimize = 0xF020;
inline constexpr unsigned kMouseMove = 0x0200;
inline constexpr unsigned kLeftButtonDown = 0x0201;
inline constexpr unsigned kLeftButtonDoubleClick = 0x0203;
inline constexpr unsigned kRightButtonDown = 0x0204;
inline constexpr unsigned kRightButtonDoubleClick = 0x0206;
inline constexpr unsigned kContextMenu = 0x007B;

// What is handed to the shell at every call.
struct TrayIconRecord {
    std::uintptr_t window = 0;
    unsigned id = kTrayIconId;
    unsigned flags = kTrayFlagMessage;
    unsigned callbackMessage = kTrayCallbackMessage;
    std::uintptr_t icon = 0;  // 0: none
    std::string tip;          // at most 127 characters
};

enum class WindowShow { Hide, Show, Minimize, ShowDefault };

class ITrayShell {
public:
    virtual ~ITrayShell() = default;
    // NIM_ADD, NIM_DELETE, NIM_MODIFY: true when the shell reports success.
    virtual bool AddIcon(const TrayIconRecord& record) = 0;
    virtual bool DeleteIcon(const TrayIconRecord& record) = 0;
    virtual bool ModifyIcon(const TrayIconRecord& record) = 0;
    // The icon and menu resources of the program; 0 when missing.
    virtual std::uintptr_t LoadIconResource(int id) = 0;
    virtual std::uintptr_t LoadMenuResource(int id) = 0;
    // Shows the menu's first pop-up at (x, y) and returns when it closes (a
    // chosen item arrives as an ordinary command); then makes the item at
    // `defaultPosition` the default one.
    virtual void TrackTrayMenu(std::uintptr_t menu, int x, int y, int defaultPosition) = 0;
    virtual void CursorPosition(int& x, int& y) = 0;
    virtual void ShowWindow(WindowShow how) = 0;
    // A short notice from the icon (a balloon, a desktop notification); where
    // there is no icon to show it, the shell says it another way or not at
    // all.
    virtual void ShowNotification(const TrayIconRecord& record, const std::string& title,
                                  const std::string& text) = 0;
};

class CNotifyIconDialog {
public:
    explicit CNotifyIconDialog(ITrayShell& shell) : m_shell(shell) {}
    virtual ~CNotifyIconDialog() = default;

    void SetTrayIcon(int resourceId);
    void SetTrayTip(std::string_view text);
    void SetTrayMenu(int resourceId);
    void SetCloseToTray(int on) { m_closeToTray = on; }

    int ShowTrayIcon();
    int HideTrayIcon();
    int RefreshTrayIcon();
    int IsTrayIconShown() const { return m_iconShown; }
    void ShowTrayNotification(const std::string& title, const std::string& text) {
        m_shell.ShowNotification(m_record, title, text);
    }

    // Window life: the window's handle once created; the icon goes with the
    // window.
    void OnCreate(std::uintptr_t window);
    void OnDestroy();
    // True when the command was taken here (hidden into the tray, or
    // swallowed); false for the default processing.
    virtual bool OnSysCommand(unsigned command);
    // The icon's callback message.
    int OnTrayNotify(std::uintptr_t wParam, std::uintptr_t lParam);

    const TrayIconRecord& Record() const { return m_record; }
    int CloseToTray() const { return m_closeToTray; }

protected:
    virtual void OnIconLeftDown(int x, int y);
    virtual void OnIconLeftDoubleClick(int x, int y);
    virtual void OnIconRightDown(int x, int y);
    virtual void OnIconRightDoubleClick(int x, int y);
    virtual void OnIconMouseMove(int x, int y);

    ITrayShell& Shell() { return m_shell; }

private:
    ITrayShell& m_shell;
    int m_closeToTray = 1;
    int m_iconShown = 0;
    TrayIconRecord m_record;
    std::uintptr_t m_menu = 0;
    int m_defaultItem = 0;
};
