#include "settings_page_qt.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "controls_qt.h"

CAddProxyDialogQt::CAddProxyDialogQt(QWidget* parent, IRegistryStore& store, IMessageBox& messages)
    : QDialog(parent), m_presenter(store, messages) {
    setWindowTitle(QStringLiteral("Add Proxy"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    TemplateBuilder dialog(*this, 186, 90);
    QPushButton* ok = dialog.Button(1, Du(15, 64, 61, 14), "OK", true);
    QPushButton* cancel = dialog.Button(2, Du(108, 64, 61, 14), "Cancel");
    dialog.Text(kStaticId, Du(28, 9, 130, 15), kAddProxySyntaxText, Qt::AlignHCenter);
    m_edit = dialog.Edit(kAddProxyEdit, Du(14, 40, 156, 14));
    dialog.FinishTabOrder();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CAddProxyDialogQt::accept() {
    done(m_presenter.OnOK(m_edit->text().toStdString()));
}

CSettingsPageQt::CSettingsPageQt(QWidget* parent, CSettingsPage& presenter, IRegistryStore& store,
                                 IMessageBox& messages)
    : QWidget(parent), m_presenter(presenter), m_store(store), m_messages(messages) {
    TemplateBuilder page(*this, 281, 159);
    page.Text(kStaticId, Du(21, 85, 239, 31), kAddProxyTipText);
    QPushButton* add = page.Button(kSettingsAddProxy, Du(11, 135, 58, 14), "Add New Proxy");
    QPushButton* update =
        page.Button(kSettingsUpdateList, Du(74, 135, 83, 14), "Update Proxy List Now");
    m_list = page.DropDown(kSettingsProxyList, Du(125, 9, 145, 115));
    m_enable = page.CheckBox(kSettingsEnable, Du(11, 9, 96, 10), "Enable Quillon");
    QPushButton* save = page.Button(kSettingsSave, Du(208, 135, 62, 14), "Save Settings", true);
    page.Group(Du(11, 27, 259, 98), "Tips");
    page.Text(kStaticId, Du(21, 41, 239, 37), kTipsText);
    QPushButton* help = page.Button(kSettingsHelp, Du(162, 135, 41, 14), "Help");
    page.FinishTabOrder();

    // A click, not a change of state: the presenter reads the box itself.
    connect(m_enable, &QCheckBox::clicked, this, [this] { m_presenter.OnEnableClicked(*this); });
    // A choice by mouse or keys; items added by the program do not count.
    m_list->SetOnPick([this] { m_presenter.OnPick(*this); });
    connect(add, &QPushButton::clicked, this, [this] { m_presenter.OnAddNewProxy(*this); });
    connect(update, &QPushButton::clicked, this, [this] { m_presenter.OnUpdateProxyList(*this); });
    connect(save, &QPushButton::clicked, this, [this] { m_presenter.OnSaveSettings(*this); });
    connect(help, &QPushButton::clicked, this, [this] { m_presenter.OnHelp(*this); });
}

void CSettingsPageQt::AddItem(const std::string& text) {
    // A sorted list (case ignored, equal texts after the ones already there)
    // whose edit field keeps what it shows: adding never picks an item.
    const QString item = QString::fromStdString(text);
    int position = 0;
    while (position < m_list->count() &&
           m_list->itemText(position).compare(item, Qt::CaseInsensitive) <= 0) {
        ++position;
    }
    const int current = m_list->currentIndex();
    const QString edit = m_list->currentText();
    m_list->insertItem(position, item);
    if (current < 0) {
        m_list->setCurrentIndex(-1);
        m_list->setEditText(edit);
    }
}

std::string CSettingsPageQt::SelectedItemText() {
    const int index = m_list->currentIndex();
    return index < 0 ? std::string() : m_list->itemText(index).toStdString();
}

int CSettingsPageQt::RunAddProxyDialog() {
    CAddProxyDialogQt dialog(this, m_store, m_messages);
    return dialog.exec();
}

void CSettingsPageQt::OpenFile(std::string_view file) {
    OpenHelpFile(file);
}

void CSettingsPageQt::SetBusy(bool busy) {
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        // The wait that follows blocks this thread: let the cursor reach the
        // screen first, without taking in clicks, keys or requests meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}
