// The main window (template 102) as a Win32 dialog: its tray icon and menu
// (resource 129), the About item of the system menu, the timers, and the
// configuration sheet with its two pages. Everything it decides is the
// presenter's; this class draws and forwards.
#pragma once

#include <windows.h>

#include <memory>

#include "main_dialog.h"
#include "pages_win32.h"
#include "property_sheet_win32.h"
#include "responsive_wait_win32.h"
#include "win32_handles.h"
#include "window_post_win32.h"

class CMainWindowWin32 final : public IMainWindowView {
public:
    // `messages` is pointed at this window once it exists.
    CMainWindowWin32(HINSTANCE instance, const MainDialogServices& services,
                     CMessageBoxWin32& messages);
    ~CMainWindowWin32() override;
    CMainWindowWin32(const CMainWindowWin32&) = delete;
    CMainWindowWin32& operator=(const CMainWindowWin32&) = delete;

    // Creates the window and runs its modal loop until its run ends; the
    // end result, or -1 when the window could not be created.
    int Run();

    // ITrayShell
    bool AddIcon(const TrayIconRecord& record) override;
    bool DeleteIcon(const TrayIconRecord& record) override;
    bool ModifyIcon(const TrayIconRecord& record) override;
    std::uintptr_t LoadIconResource(int id) override;
    std::uintptr_t LoadMenuResource(int id) override;
    void TrackTrayMenu(std::uintptr_t menu, int x, int y, int defaultPosition) override;
    void CursorPosition(int& x, int& y) override;
    void ShowWindow(WindowShow how) override;
    void ShowNotification(const TrayIconRecord& record, const std::string& title,
                          const std::string& text) override;
    // IMainWindowView
    std::string LoadStringResource(int id) override;
    void AppendAboutItem(const std::string& text) override;
    void SetTimer(int id, int milliseconds) override;
    void KillTimer(int id) override;
    void CreateConfigurationSheet() override;
    void RunAboutBox() override;
    void EndDialog(int result) override;
    void RefreshControls() override;
    void SetBusy(bool busy) override;
    void ShowProxyChoice(const std::string& text) override;

private:
    void PrivacyPageShown();
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnInitDialog();
    void PaintIconic();
    bool PreTranslateMessage(MSG& message);

    HINSTANCE m_instance;
    IRegistryStore& m_store;
    CMessageBoxWin32& m_messages;
    HWND m_window = nullptr;
    IconHandle m_bigIcon;
    IconHandle m_smallIcon;
    MenuHandle m_trayMenu;
    bool m_ended = false;
    bool m_busy = false;
    int m_result = 0;
    // The sheet before its pages: its window goes first, then the pages'
    // objects.
    std::unique_ptr<CSettingsPageWin32> m_settingsPage;
    std::unique_ptr<CPrivacyPageWin32> m_privacyPage;
    std::unique_ptr<CExtChildResizablePropertySheet> m_sheet;
    // Runs what other threads post on this window's thread.
    CWindowPostWin32 m_post;
    // Waits on the network while this window's messages flow.
    CResponsiveWaitWin32 m_wait{[this](MSG& message) { return PreTranslateMessage(message); },
                                [this] { return m_ended; }};
    // Last: built when everything it may call exists, gone before any of it.
    CMainDialog m_presenter;
};
