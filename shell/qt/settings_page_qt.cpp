#include "settings_page_qt.h"

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
    m_entries = new CProxyEntriesModel(m_list);
    m_list->setModel(m_entries);
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

int CProxyEntriesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_entries.Size());
}

QVariant CProxyEntriesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    const std::string& text = m_entries[static_cast<std::size_t>(index.row())];
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void CProxyEntriesModel::Show(const ProxyEntries& entries) {
    if (entries.Size() == m_entries.Size()) {
        return;
    }
    if (m_entries.Empty()) {
        beginInsertRows({}, 0, static_cast<int>(entries.Size()) - 1);
        m_entries = entries;
        endInsertRows();
        return;
    }
    // New rows among the old ones: one change of layout rather than an
    // insertion for each run of them; the rows held (the current item)
    // follow their text.
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> rows;
    rows.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& held : before) {
        rows.push_back(entries.Find(m_entries[static_cast<std::size_t>(held.row())]));
    }
    m_entries = entries;
    QModelIndexList after;
    after.reserve(before.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        after.append(index(static_cast<int>(rows[i]), before[static_cast<qsizetype>(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
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

