// A notification area for tests: records every call and answers with the
// results the test chose.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "notify_icon_dialog.h"

class FakeTrayShell final : public ITrayShell {
public:
    bool AddIcon(const TrayIconRecord& record) override { return Note("add", record, addResult); }
    bool DeleteIcon(const TrayIconRecord& record) override {
        return Note("delete", record, deleteResult);
    }
    bool ModifyIcon(const TrayIconRecord& record) override { return Note("modify", record, true); }
    std::uintptr_t LoadIconResource(int id) override { return id == 128 ? 0x128 : 0; }
    std::uintptr_t LoadMenuResource(int id) override { return id == 129 ? 0x129 : 0; }
    void TrackTrayMenu(std::uintptr_t, int x, int y, int defaultPosition) override {
        calls.push_back("menu " + std::to_string(x) + "," + std::to_string(y) + " default " +
                        std::to_string(defaultPosition));
        if (onMenu) {
            onMenu();
        }
    }
    void CursorPosition(int& x, int& y) override {
        x = 10;
        y = 20;
    }
    void ShowNotification(const TrayIconRecord&, const std::string& title,
                          const std::string& text) override {
        calls.push_back("notify " + title + ": " + text);
    }
    void ShowWindow(WindowShow how) override {
        static const char* const kNames[] = {"hide", "show", "minimize", "showdefault"};
        calls.push_back(std::string("window ") + kNames[static_cast<int>(how)]);
    }

    std::vector<std::string> calls;
    TrayIconRecord last;
    bool addResult = true;
    bool deleteResult = true;
    std::function<void()> onMenu;  // a command chosen from the menu

private:
    bool Note(const char* what, const TrayIconRecord& record, bool result) {
        calls.push_back(what);
        last = record;
        return result;
    }
};
