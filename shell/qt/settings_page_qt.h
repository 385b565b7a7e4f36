// The Settings page (template 133) and the Add Proxy dialog (template 132):
// they draw the controls and hand every click to the presenters.
#pragma once

#include <QAbstractListModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QWidget>
#include <vector>

#include "controls_qt.h"
#include "registry_store.h"
#include "settings_page.h"

inline constexpr const char* kTipsText =
    "You can use any of the proxies available in the dropdown. For best performances we "
    "recommend to select a proxy located in your country or the country nearest you. Third "
    "parties maintain the proxies listed and we cannot guarantee their availability. ";
inline constexpr const char* kAddProxyTipText =
    "By pressing the Add New Proxy button (syntax= IpAddress:Port, e.g. 12.12.12.12:8080) you "
    "can use any proxy you like. Quillon will test its availability and response time. Please "
    "see the help file for more details. ";
inline constexpr const char* kAddProxySyntaxText =
    "Please use this syntax= IpAddress:Port like e.g. 111.111.111.111:11";
inline constexpr int kAddProxyCancelled = 2;

class CAddProxyDialogQt final : public QDialog {
public:
    CAddProxyDialogQt(QWidget* parent, IRegistryStore& store, IMessageBox& messages);

    void accept() override;
    // Cancel and the close box end the dialog with IDCANCEL.
    void reject() override { done(kAddProxyCancelled); }

private:
    CAddProxyDialog m_presenter;
    QLineEdit* m_edit;
};

// The selection list's rows: the page's entries, read as the list draws
// them rather than copied into items of their own, so that a list of any
// length is handed over at once.
class CProxyEntriesModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // `entries` hold every row shown now, in the same order; none of them
    // is marked until ShowChecks.
    void Show(const ProxyEntries& entries);
    // The marks of these rows: a picture, greyed text for entries that do not
    // work, and the same words as tooltip and accessible description.
    void ShowChecks(const std::vector<EntryCheck>& checks);

private:
    ProxyEntries m_entries;
    EntryMarks m_marks;
};

class CSettingsPageQt final : public QWidget, public ISettingsPageView {
public:
    CSettingsPageQt(QWidget* parent, CSettingsPage& presenter, IRegistryStore& store,
                    IMessageBox& messages);

    // ISettingsPageView
    void ShowEntries(const ProxyEntries& entries) override { m_entries->Show(entries); }
    void ShowEntryChecks(const std::vector<EntryCheck>& checks) override {
        m_entries->ShowChecks(checks);
    }
    void SetEnableCheck(bool checked) override { m_enable->setChecked(checked); }
    bool EnableCheck() override { return m_enable->isChecked(); }
    void SetAutoSwitchCheck(bool checked) override { m_autoSwitch->setChecked(checked); }
    bool AutoSwitchCheck() override { return m_autoSwitch->isChecked(); }
    std::string SelectedItemText() override;
    std::string EditText() override { return m_list->currentText().toStdString(); }
    void SetEditText(const std::string& text) override {
        m_list->setEditText(QString::fromStdString(text));
    }
    // The entry of that text selected (its mark beside it), or, without
    // one, the text in the edit field.
    void ShowChoice(const std::string& text);
    int RunAddProxyDialog() override;
    void OpenFile(std::string_view file) override;

private:
    CSettingsPage& m_presenter;
    IRegistryStore& m_store;
    IMessageBox& m_messages;
    CDropDownQt* m_list;
    CProxyEntriesModel* m_entries;
    QCheckBox* m_enable;
    QCheckBox* m_autoSwitch;
};
