#include "notify_icon_dialog.h"

void CNotifyIconDialog::SetTrayIcon(int resourceId) {
    const std::uintptr_t icon = m_shell.LoadIconResource(resourceId);
    if (icon != 0) {
        m_record.icon = icon;
        m_record.flags |= kTrayFlagIcon;
    }
}

void CNotifyIconDialog::SetTrayTip(std::string_view text) {
    // The shell's tip field holds 127 characters and the zero.
    m_record.tip.assign(text.substr(0, std::min(text.find('\0'), kTrayTipSize - 1)));
    m_record.flags |= kTrayFlagTip;
}

void CNotifyIconDialog::SetTrayMenu(int resourceId) {
    m_menu = m_shell.LoadMenuResource(resourceId);
}

int CNotifyIconDialog::ShowTrayIcon() {
    if (m_iconShown != 0) {
        return 0;
    }
    const bool added = m_shell.AddIcon(m_record);
    if (added) {
        m_iconShown = 1;
    }
    return added ? 1 : 0;
}

int CNotifyIconDialog::HideTrayIcon() {
    if (m_iconShown == 0) {
        return 0;
    }
    const bool deleted = m_shell.DeleteIcon(m_record);
    if (deleted) {
        m_iconShown = 0;
    }
    return deleted ? 1 : 0;
}

int CNotifyIconDialog::RefreshTrayIcon() {
    return m_iconShown != 0 && m_shell.ModifyIcon(m_record) ? 1 : 0;
}

void CNotifyIconDialog::OnCreate(std::uintptr_t window) {
    m_record.window = window;
    m_record.id = kTrayIconId;
}

void CNotifyIconDialog::OnDestroy() {
    // The flag is left as it is: the window is gone.
    if (m_record.window != 0 && m_record.id > 0 && m_iconShown != 0) {
        m_shell.DeleteIcon(m_record);
    }
}

bool CNotifyIconDialog::OnSysCommand(unsigned command) {
    const unsigned which = command & 0xFFF0;
    if (m_closeToTray == 0 || (which != kScClose && which != kScMinimize)) {
        return false;
    }
    if (m_iconShown == 0 && m_shell.AddIcon(m_record)) {
        m_iconShown = 1;
        m_shell.ShowWindow(WindowShow::Hide);
    }
    return true;
}

int CNotifyIconDialog::OnTrayNotify(std::uintptr_t wParam, std::uintptr_t lParam) {
    if (wParam != kTrayIconId) {
        return 0;
    }
    int x = 0;
    int y = 0;
    m_shell.CursorPosition(x, y);
    switch (lParam) {
        case kLeftButtonDown:
            OnIconLeftDown(x, y);
            break;
        case kLeftButtonDoubleClick:
            OnIconLeftDoubleClick(x, y);
            break;
        case kRightButtonDown:
        case kContextMenu:
            OnIconRightDown(x, y);
            break;
        case kRightButtonDoubleClick:
            OnIconRightDoubleClick(x, y);
            break;
        case kMouseMove:
            OnIconMouseMove(x, y);
            break;
        default:
            break;
    }
    return 0;
}

void CNotifyIconDialog::OnIconLeftDown(int, int) {}

void CNotifyIconDialog::OnIconLeftDoubleClick(int, int) {
    if (m_closeToTray != 0 && m_iconShown != 0 && m_shell.DeleteIcon(m_record)) {
        m_iconShown = 0;
        m_shell.ShowWindow(WindowShow::Show);
    }
}

void CNotifyIconDialog::OnIconRightDown(int x, int y) {
    if (m_menu != 0) {
        m_shell.TrackTrayMenu(m_menu, x, y, m_defaultItem);
    }
}

void CNotifyIconDialog::OnIconRightDoubleClick(int, int) {}

void CNotifyIconDialog::OnIconMouseMove(int, int) {}
