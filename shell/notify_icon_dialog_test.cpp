// The tray icon's state rules: the shown flag follows the shell's answers,
// close-to-tray, the mouse hooks' dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_tray_shell.h"
#include "notify_icon_dialog.h"

namespace {

using Calls = std::vector<std::string>;

class HookLog final : public CNotifyIconDialog {
public:
    using CNotifyIconDialog::CNotifyIconDialog;
    std::vector<std::string> hooks;

protected:
    void OnIconLeftDown(int x, int y) override { Note("left", x, y); }
    void OnIconRightDoubleClick(int x, int y) override { Note("rightdouble", x, y); }
    void OnIconMouseMove(int x, int y) override { Note("move", x, y); }
    void OnIconLeftDoubleClick(int x, int y) override {
        Note("leftdouble", x, y);
        CNotifyIconDialog::OnIconLeftDoubleClick(x, y);
    }
    void OnIconRightDown(int x, int y) override {
        Note("right", x, y);
        CNotifyIconDialog::OnIconRightDown(x, y);
    }

private:
    void Note(const char* name, int x, int y) {
        hooks.push_back(std::string(name) + " " + std::to_string(x) + "," + std::to_string(y));
    }
};

TEST(NotifyIconDialog, RecordAndShownFlagFollowTheShell) {
    FakeTrayShell shell;
    CNotifyIconDialog tray(shell);
    tray.OnCreate(0x77);
    tray.SetTrayIcon(128);
    tray.SetTrayIcon(999);  // missing: the record keeps the first
    tray.SetTrayTip(std::string(200, 't'));
    EXPECT_EQ(tray.Record().icon, 0x128u);
    EXPECT_EQ(tray.Record().flags, kTrayFlagMessage | kTrayFlagIcon | kTrayFlagTip);
    EXPECT_EQ(tray.Record().tip.size(), 127u);
    EXPECT_EQ(tray.Record().callbackMessage, 0x0401u);
    EXPECT_EQ(tray.Record().window, 0x77u);

    EXPECT_EQ(tray.RefreshTrayIcon(), 0);  // not shown: no call
    shell.addResult = false;
    EXPECT_EQ(tray.ShowTrayIcon(), 0);
    EXPECT_EQ(tray.IsTrayIconShown(), 0);
    shell.addResult = true;
    EXPECT_EQ(tray.ShowTrayIcon(), 1);
    EXPECT_EQ(tray.ShowTrayIcon(), 0);  // already shown: no second icon
    EXPECT_EQ(tray.RefreshTrayIcon(), 1);
    shell.deleteResult = false;
    EXPECT_EQ(tray.HideTrayIcon(), 0);
    EXPECT_EQ(tray.IsTrayIconShown(), 1);
    EXPECT_EQ(shell.calls, (Calls{"add", "add", "modify", "delete"}));

    tray.OnDestroy();  // the icon leaves with the window
    EXPECT_EQ(shell.calls.back(), "delete");
}

TEST(NotifyIconDialog, CloseAndMinimizeHideIntoTheTrayOnlyWhenAsked) {
    FakeTrayShell shell;
    CNotifyIconDialog tray(shell);
    EXPECT_TRUE(tray.OnSysCommand(kScClose | 0x2));  // low bits are the system's own
    EXPECT_EQ(shell.calls, (Calls{"add", "window hide"}));
    // Icon already shown: consumed, nothing happens.
    EXPECT_TRUE(tray.OnSysCommand(kScMinimize));
    EXPECT_EQ(shell.calls.size(), 2u);
    // A failed add swallows the command and leaves the window.
    tray.HideTrayIcon();
    shell.calls.clear();
    shell.addResult = false;
    EXPECT_TRUE(tray.OnSysCommand(kScClose));
    EXPECT_EQ(shell.calls, (Calls{"add"}));
    // Other commands, or close-to-tray off: default processing.
    EXPECT_FALSE(tray.OnSysCommand(0xF030));
    tray.SetCloseToTray(0);
    EXPECT_FALSE(tray.OnSysCommand(kScClose));
}

TEST(NotifyIconDialog, IconMessagesReachTheirHooks) {
    FakeTrayShell shell;
    HookLog tray(shell);
    tray.SetTrayMenu(129);
    tray.ShowTrayIcon();
    for (unsigned message :
         {kLeftButtonDown, 0x0202u /* up */, kMouseMove, kRightButtonDown, kContextMenu,
          0x0205u /* up */, kRightButtonDoubleClick, kLeftButtonDoubleClick}) {
        EXPECT_EQ(tray.OnTrayNotify(kTrayIconId, message), 0);
    }
    tray.OnTrayNotify(2, kLeftButtonDown);  // another icon's: ignored
    EXPECT_EQ(tray.hooks,
              (std::vector<std::string>{"left 10,20", "move 10,20", "right 10,20", "right 10,20",
                                        "rightdouble 10,20", "leftdouble 10,20"}));
    // The menu twice, with the first item as default; the double click with
    // close-to-tray on brings the window back and removes the icon.
    EXPECT_EQ(shell.calls, (Calls{"add", "menu 10,20 default 0", "menu 10,20 default 0", "delete",
                                  "window show"}));
    EXPECT_EQ(tray.IsTrayIconShown(), 0);
}

}  // namespace
