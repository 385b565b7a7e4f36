// A main window for tests: records what the presenter asks of it, through
// the fake tray for the tray's part.
#pragma once

#include <string>

#include "fake_tray_shell.h"
#include "main_dialog.h"

class FakeMainWindowView final : public IMainWindowView {
public:
    // ITrayShell, recorded through the fake tray.
    bool AddIcon(const TrayIconRecord& r) override { return tray.AddIcon(r); }
    bool DeleteIcon(const TrayIconRecord& r) override { return tray.DeleteIcon(r); }
    bool ModifyIcon(const TrayIconRecord& r) override { return tray.ModifyIcon(r); }
    std::uintptr_t LoadIconResource(int id) override { return tray.LoadIconResource(id); }
    std::uintptr_t LoadMenuResource(int id) override { return tray.LoadMenuResource(id); }
    void TrackTrayMenu(std::uintptr_t m, int x, int y, int d) override {
        tray.TrackTrayMenu(m, x, y, d);
    }
    void CursorPosition(int& x, int& y) override { tray.CursorPosition(x, y); }
    void ShowWindow(WindowShow how) override { tray.ShowWindow(how); }
    void ShowNotification(const TrayIconRecord& r, const std::string& title,
                          const std::string& text) override {
        tray.ShowNotification(r, title, text);
    }

    std::string LoadStringResource(int id) override {
        return id == kAboutStringResource ? aboutText : "";
    }
    void AppendAboutItem(const std::string& text) override {
        tray.calls.push_back("about item " + text);
    }
    void SetTimer(int id, int ms) override {
        tray.calls.push_back("timer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillTimer(int id) override { tray.calls.push_back("kill " + std::to_string(id)); }
    void CreateConfigurationSheet() override { tray.calls.push_back("sheet"); }
    void RunAboutBox() override { tray.calls.push_back("about box"); }
    void EndDialog(int result) override { tray.calls.push_back("end " + std::to_string(result)); }
    void RefreshControls() override {}
    void SetBusy(bool busy) override { tray.calls.push_back(busy ? "busy" : "not busy"); }
    void ShowProxyChoice(const std::string& text) override {
        tray.calls.push_back("proxy " + text);
    }

    FakeTrayShell tray;
    std::string aboutText = "&About Quillon...";
};
