// The Privacy page (template 134): check boxes, the blocked pop-up count,
// Save Settings and Help, handed to the presenter.
#pragma once

#include <QWidget>
#include <map>

#include "main_dialog.h"
#include "privacy_page.h"

class QCheckBox;
class QLineEdit;

class CPrivacyPageQt final : public QWidget, public IPrivacyPageView {
public:
    CPrivacyPageQt(QWidget* parent, CMainDialog& mainDialog);

    void SetCheck(int control, bool checked) override;
    bool GetCheck(int control) override;
    void SetText(int control, std::string_view text) override;
    void OpenFile(std::string_view file) override;

protected:
    // Shown again (its tab, or the window): the count as it stands now.
    void showEvent(QShowEvent* event) override;

private:
    CMainDialog& m_mainDialog;
    CPrivacyPage& m_presenter;
    std::map<int, QCheckBox*> m_checks;
    QLineEdit* m_count;
};
