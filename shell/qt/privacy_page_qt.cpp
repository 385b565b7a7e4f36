#include "privacy_page_qt.h"

#include "controls_qt.h"

CPrivacyPageQt::CPrivacyPageQt(QWidget* parent, CMainDialog& mainDialog)
    : QWidget(parent), m_mainDialog(mainDialog), m_presenter(mainDialog.PrivacyPage()) {
    TemplateBuilder page(*this, 281, 159);
    const auto check = [&](int id, QRect units, const char* text) {
        m_checks[id] = page.CheckBox(id, units, text);
    };
    page.Group(Du(11, 9, 259, 31), "Popups ");
    check(kPrivacyBlockPopups, Du(21, 22, 57, 10), "Block Popups");
    page.Text(kStaticId, Du(151, 22, 50, 8), "Popups Blocked");
    m_count = page.Edit(kPrivacyPopupCount, Du(218, 19, 40, 14), true);
    page.Group(Du(11, 46, 259, 40), "Privacy Options");
    check(kPrivacyClearTmpFiles, Du(21, 58, 114, 10), "Clear Temporary Internet Files");
    check(kPrivacyClearCookies, Du(21, 71, 59, 10), "Clear Cookies");
    check(kPrivacyDeleteAddresses, Du(151, 58, 107, 10), "Delete Last Typed Addresses");
    check(kPrivacyDeleteHistory, Du(151, 71, 61, 10), "Delete History");
    page.Group(Du(11, 92, 259, 34), "Java Script Options");
    check(kPrivacyEnableJS, Du(21, 105, 75, 10), "Enable Java Script");
    check(kPrivacyEnableActiveX, Du(151, 105, 65, 10), "Enable Active X");
    QPushButton* help = page.Button(kPrivacyHelp, Du(162, 135, 41, 14), "Help");
    QPushButton* save =
        page.Button(kPrivacySaveSettings, Du(208, 135, 62, 14), "Save Settings", true);
    page.FinishTabOrder();

    connect(save, &QPushButton::clicked, this, [this] { m_presenter.OnSaveSettings(*this); });
    connect(help, &QPushButton::clicked, this, [this] { m_presenter.OnHelp(*this); });
}

void CPrivacyPageQt::SetCheck(int control, bool checked) {
    if (auto found = m_checks.find(control); found != m_checks.end()) {
        found->second->setChecked(checked);
    }
}

bool CPrivacyPageQt::GetCheck(int control) {
    const auto found = m_checks.find(control);
    return found != m_checks.end() && found->second->isChecked();
}

void CPrivacyPageQt::SetText(int control, std::string_view text) {
    if (control == kPrivacyPopupCount) {
        m_count->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
}

void CPrivacyPageQt::OpenFile(std::string_view file) {
    OpenHelpFile(file);
}

void CPrivacyPageQt::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_mainDialog.OnPrivacyPageShown(*this);
}
