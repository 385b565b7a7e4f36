// The Privacy page of the configuration sheet, as a presenter: it reads and
// writes the settings and restarts the cleaning worker; the view only draws
// the controls and forwards the two buttons.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "registry_dword.h"

// Control ids of dialog 134.
enum PrivacyControl : int {
    kPrivacyBlockPopups = 1024,
    kPrivacyPopupCount = 1025,
    kPrivacyClearTmpFiles = 1003,
    kPrivacyClearCookies = 1004,
    kPrivacyDeleteAddresses = 1005,
    kPrivacyDeleteHistory = 1006,
    kPrivacyEnableJS = 1002,
    kPrivacyEnableActiveX = 1010,
    kPrivacySaveSettings = 1029,
    kPrivacyHelp = 1030,
};

inline constexpr const char* kPrivacyPageTitle = "Privacy";
inline constexpr const char* kHelpFile = "index.htm";

class IPrivacyPageView {
public:
    virtual ~IPrivacyPageView() = default;
    virtual void SetCheck(int control, bool checked) = 0;
    virtual bool GetCheck(int control) = 0;
    virtual void SetText(int control, std::string_view text) = 0;
    // Opens a file of the current directory with its associated program,
    // maximised; nothing is reported when that fails.
    virtual void OpenFile(std::string_view file) = 0;
};

// What the page needs of the main window.
class IPrivacyPageHost {
public:
    virtual ~IPrivacyPageHost() = default;
    // EnableJS, EnableActiveX and BlockPopups have just been written.
    virtual void FilterSwitchesSaved() = 0;
    virtual void RestartCleaningWorker(std::uint32_t temporaryFiles, std::uint32_t cookies,
                                       std::uint32_t typedAddresses, std::uint32_t history) = 0;
};

// The settings the page shows and saves; they outlive the page.
struct PrivacySettings {
    RegistryDword& blockPopups;
    RegistryDword& enableJS;
    RegistryDword& enableActiveX;
    RegistryDword& clearTmpFiles;
    RegistryDword& clearCookies;
    RegistryDword& deleteAddresses;
    RegistryDword& deleteHistory;
    // Read only; a local value, built for each reading.
    IRegistryStore& store;
};

class CPrivacyPage {
public:
    CPrivacyPage(PrivacySettings settings, IPrivacyPageHost& host);

    // The dialog's initialisation: shows the switches and the count as they
    // are stored now. True: the default focus.
    bool OnInitDialog(IPrivacyPageView& view);
    // "Save Settings".
    void OnSaveSettings(IPrivacyPageView& view);
    // "Help".
    void OnHelp(IPrivacyPageView& view);
    // The count as stored now, in its control.
    void ShowCount(IPrivacyPageView& view);

    const std::string& CountText() const { return m_countText; }

private:
    void ReadSettings();
    void ReadCount();

    PrivacySettings m_settings;
    IPrivacyPageHost& m_host;
    std::uint32_t m_blockPopups = 0;
    std::uint32_t m_enableJS = 0;
    std::uint32_t m_enableActiveX = 0;
    std::uint32_t m_temporaryFiles = 0;
    std::uint32_t m_cookies = 0;
    std::uint32_t m_typedAddresses = 0;
    std::uint32_t m_history = 0;
    std::string m_countText;
};
