#include "privacy_page.h"

#include <cstdio>

namespace {

std::uint32_t Checked(IPrivacyPageView& view, int control) {
    return view.GetCheck(control) ? 1 : 0;
}

}  // namespace

CPrivacyPage::CPrivacyPage(PrivacySettings settings, IPrivacyPageHost& host)
    : m_settings(settings), m_host(host) {
    ReadSettings();
}

void CPrivacyPage::ReadSettings() {
    m_blockPopups = m_settings.blockPopups.Get() != 0;
    m_temporaryFiles = m_settings.clearTmpFiles.Get() != 0;
    m_cookies = m_settings.clearCookies.Get() != 0;
    m_typedAddresses = m_settings.deleteAddresses.Get() != 0;
    m_history = m_settings.deleteHistory.Get() != 0;
    m_enableJS = m_settings.enableJS.Get() != 0;
    m_enableActiveX = m_settings.enableActiveX.Get() != 0;
    ReadCount();
}

void CPrivacyPage::ReadCount() {
    // Read afresh each time: nothing in the program keeps it.
    RegistryDword count("Software\\Quillon\\NrOfBlockPopups", 0, false, RegistryRoot::LocalMachine,
                        m_settings.store);
    char text[16];
    std::snprintf(text, sizeof text, "%d",
                  static_cast<int>(static_cast<std::int32_t>(count.Get())));
    m_countText = text;
}

bool CPrivacyPage::OnInitDialog(IPrivacyPageView& view) {
    ReadSettings();
    view.SetCheck(kPrivacyBlockPopups, m_blockPopups != 0);
    view.SetText(kPrivacyPopupCount, m_countText);
    view.SetCheck(kPrivacyClearTmpFiles, m_temporaryFiles != 0);
    view.SetCheck(kPrivacyClearCookies, m_cookies != 0);
    view.SetCheck(kPrivacyDeleteAddresses, m_typedAddresses != 0);
    view.SetCheck(kPrivacyDeleteHistory, m_history != 0);
    view.SetCheck(kPrivacyEnableJS, m_enableJS != 0);
    view.SetCheck(kPrivacyEnableActiveX, m_enableActiveX != 0);
    return true;
}

void CPrivacyPage::OnSaveSettings(IPrivacyPageView& view) {
    m_blockPopups = Checked(view, kPrivacyBlockPopups);
    m_temporaryFiles = Checked(view, kPrivacyClearTmpFiles);
    m_cookies = Checked(view, kPrivacyClearCookies);
    m_typedAddresses = Checked(view, kPrivacyDeleteAddresses);
    m_history = Checked(view, kPrivacyDeleteHistory);
    m_enableJS = Checked(view, kPrivacyEnableJS);
    m_enableActiveX = Checked(view, kPrivacyEnableActiveX);

    // The filter switches first: connections read them at their next
    // response.
    m_settings.enableJS.Set(m_enableJS);
    m_settings.enableActiveX.Set(m_enableActiveX);
    m_settings.blockPopups.Set(m_blockPopups);
    m_host.FilterSwitchesSaved();
    m_host.RestartCleaningWorker(m_temporaryFiles, m_cookies, m_typedAddresses, m_history);
    m_settings.clearTmpFiles.Set(m_temporaryFiles);
    m_settings.clearCookies.Set(m_cookies);
    m_settings.deleteAddresses.Set(m_typedAddresses);
    m_settings.deleteHistory.Set(m_history);
}

void CPrivacyPage::OnHelp(IPrivacyPageView& view) {
    view.OpenFile(kHelpFile);
}

void CPrivacyPage::ShowCount(IPrivacyPageView& view) {
    ReadCount();
    view.SetText(kPrivacyPopupCount, m_countText);
}
