#include "settings_page_qt.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <array>

#include "controls_qt.h"

namespace {

// The picture of a mark, drawn once; a stale result's is faded.
QIcon MarkIcon(EntryMarkKind kind, bool stale) {
    static std::array<std::array<QIcon, 2>, 7> icons;
    QIcon& icon = icons[static_cast<std::size_t>(kind)][stale ? 1 : 0];
    if (!icon.isNull()) {
        return icon;
    }
    constexpr int kSize = 12;
    QPixmap picture(kSize, kSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(stale ? 0.4 : 1.0);
    const QRectF dot(1.5, 1.5, kSize - 3, kSize - 3);
    const QColor green(0x2e, 0x9d, 0x3a), amber(0xf0, 0xa0, 0x1e), red(0xd3, 0x2f, 0x2f);
    const auto fillDot = [&](const QColor& color) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(dot);
    };
    switch (kind) {
        case EntryMarkKind::kUnchecked:
            break;  // room kept, so that the texts stay in line
        case EntryMarkKind::kElite:
            fillDot(green);
            break;
        case EntryMarkKind::kAnonymous:
            painter.setPen(QPen(green, 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(dot.adjusted(1, 1, -1, -1));
            break;
        case EntryMarkKind::kUngraded:
            fillDot(amber);
            break;
        case EntryMarkKind::kTransparent: {
            // A diamond: it works, but shows where the request came from.
            painter.setPen(Qt::NoPen);
            painter.setBrush(amber);
            const QPointF c = dot.center();
            const qreal r = dot.width() / 2 + 0.5;
            const QPointF corners[] = {
                {c.x(), c.y() - r}, {c.x() + r, c.y()}, {c.x(), c.y() + r}, {c.x() - r, c.y()}};
            painter.drawPolygon(corners, 4);
            break;
        }
        case EntryMarkKind::kDead:
            fillDot(red);
            break;
        case EntryMarkKind::kBad:
            painter.setPen(QPen(red, 2.5, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(dot.topLeft(), dot.bottomRight());
            painter.drawLine(dot.topRight(), dot.bottomLeft());
            break;
    }
    painter.end();
    icon = QIcon(picture);
    return icon;
}

}  // namespace

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
    page.Text(kStaticId, Du(21, 78, 239, 31), kAddProxyTipText);
    QPushButton* add = page.Button(kSettingsAddProxy, Du(11, 135, 58, 14), "Add New Proxy");
    QPushButton* update =
        page.Button(kSettingsUpdateList, Du(74, 135, 83, 14), "Update Proxy List Now");
    m_list = page.DropDown(kSettingsProxyList, Du(125, 9, 145, 115));
    m_entries = new CProxyEntriesModel(m_list);
    m_list->setModel(m_entries);
    m_enable = page.CheckBox(kSettingsEnable, Du(11, 9, 96, 10), "Enable Quillon");
    QPushButton* save = page.Button(kSettingsSave, Du(208, 135, 62, 14), "Save Settings", true);
    page.Group(Du(11, 27, 259, 86), "Tips");
    page.Text(kStaticId, Du(21, 39, 239, 37), kTipsText);
    QPushButton* help = page.Button(kSettingsHelp, Du(162, 135, 41, 14), "Help");
    m_autoSwitch = page.CheckBox(kSettingsAutoSwitch, Du(11, 118, 259, 10), kAutoSwitchText);
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
    if (!index.isValid()) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const std::string& text = m_entries[row];
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
    const ProxyCheckResult* result = m_marks.At(row);
    const auto now = std::chrono::system_clock::now();
    switch (role) {
        case Qt::DecorationRole:
            return MarkIcon(MarkKind(result), result != nullptr && IsStale(*result, now));
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole:
            return QString::fromStdString(MarkText(result, now));
        case Qt::ForegroundRole:
            if (result != nullptr && result->state != ProxyState::kAlive) {
                return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
            }
            return {};
        default:
            return {};
    }
}

void CProxyEntriesModel::ShowChecks(const std::vector<EntryCheck>& checks) {
    if (const auto rows = m_marks.Put(checks, m_entries.Size())) {
        // Only the rows in view are drawn again.
        emit dataChanged(index(static_cast<int>(rows->first)), index(static_cast<int>(rows->last)),
                         {Qt::DecorationRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole,
                          Qt::ForegroundRole});
    }
}

void CProxyEntriesModel::Show(const ProxyEntries& entries) {
    if (entries.Size() == m_entries.Size()) {
        return;
    }
    m_marks.Clear();
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

void CSettingsPageQt::ShowChoice(const std::string& text) {
    const QString choice = QString::fromStdString(text);
    const int index = m_list->findText(choice, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        m_list->setCurrentIndex(index);
    }
    m_list->setEditText(choice);
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
