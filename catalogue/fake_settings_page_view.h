// A Settings page view and host that record what the page does, for tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "settings_page.h"

class FakeSettingsPageView final : public ISettingsPageView {
public:
    void ShowEntries(const ProxyEntries& entries) override {
        items.assign(entries.begin(), entries.end());
        marks.clear();
        ++shown;
    }
    void ShowEntryChecks(const std::vector<EntryCheck>& checks) override {
        for (const EntryCheck& check : checks) {
            marks[check.row] = check.result;
        }
    }
    void SetEnableCheck(bool on) override { checked = on; }
    bool EnableCheck() override { return checked; }
    void SetAutoSwitchCheck(bool on) override { autoSwitch = on; }
    bool AutoSwitchCheck() override { return autoSwitch; }
    std::string SelectedItemText() override { return selected; }
    std::string EditText() override { return edit; }
    void SetEditText(const std::string& text) override { edit = text; }
    int RunAddProxyDialog() override { return addProxy ? addProxy() : 2; }
    void OpenFile(std::string_view file) override { opened.emplace_back(file); }

    std::vector<std::string> items;                 // as the list holds them
    int shown = 0;                                  // hand-overs of entries
    std::map<std::size_t, ProxyCheckResult> marks;  // by row
    bool checked = false;
    bool autoSwitch = false;
    std::string selected, edit;
    std::function<int()> addProxy;
    std::vector<std::string> opened;
};

// Runs each job at once, counting them.
class CountingWait final : public IResponsiveWait {
public:
    bool Run(const std::function<void(std::stop_token)>& job) override {
        ++runs;
        job(std::stop_token{});
        return !ending;
    }
    int runs = 0;
    bool ending = false;  // as when the program is told to end meanwhile
};

class FakeSettingsPageHost final : public ISettingsPageHost {
public:
    IResponsiveWait& Waits() override { return wait; }
    void SetCachedUseProxy(int value) override { log.push_back("cached " + std::to_string(value)); }
    bool AnonymousBrowsingOn() const override { return on; }
    void OnToggleProxy() override {
        log.push_back("toggle");
        if (onToggle) {
            onToggle();
        }
    }
    void ApplyProxySelection(const std::string& text) override { log.push_back("apply " + text); }
    void StartProxyGenerator() override { log.push_back("generator"); }

    std::vector<std::string> log;
    bool on = false;
    std::function<void()> onToggle;  // what the main window shows after it
    CountingWait wait;
};
