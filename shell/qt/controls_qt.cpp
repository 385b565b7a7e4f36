#include "controls_qt.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QListView>
#include <QUrl>
#include <algorithm>

#include "message_box_qt.h"

namespace {

const QFont& WithDialogFont(QWidget& window) {
    window.setFont(DialogFont());
    return window.font();
}

}  // namespace

CDropDownQt::CDropDownQt(QWidget* parent) : QComboBox(parent) {
    auto* edit = new QLineEdit(this);
    // The box itself makes the end of editing a listed text an activation;
    // that is no pick. Our handlers run around its own: connected before
    // and after it.
    connect(edit, &QLineEdit::editingFinished, this, [this] { m_editEnding = true; });
    setLineEdit(edit);
    connect(edit, &QLineEdit::editingFinished, this, [this] { m_editEnding = false; });
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    // Lists of any length: the box keeps its template's size instead of
    // measuring every item, and the opened list takes each row as one line
    // high instead of measuring each.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (auto* rows = qobject_cast<QListView*>(view())) {
        rows->setUniformItemSizes(true);
    }
    // Never drawn in a box with an edit field; without it, filling an empty
    // list would pick its first item.
    setPlaceholderText(QStringLiteral(" "));
    connect(this, &QComboBox::activated, this, [this] {
        if (!m_editEnding && m_onPick) {
            m_onPick();
        }
    });
}

TemplateBuilder::TemplateBuilder(QWidget& window, int width, int height)
    : m_window(window), m_units(WithDialogFont(window)) {
    window.setFixedSize(m_units.Size(width, height));
}

template <class W>
W* TemplateBuilder::Place(W* widget, int id, QRect units) {
    if (id != kStaticId) {
        widget->setObjectName(QString::number(id));
    }
    widget->setGeometry(m_units.Rect(units.x(), units.y(), units.width(), units.height()));
    if (widget->focusPolicy() != Qt::NoFocus) {
        m_tabOrder.push_back(widget);
    }
    return widget;
}

QLabel* TemplateBuilder::Text(int id, QRect units, const char* text, Qt::Alignment align) {
    auto* label = new QLabel(QString::fromUtf8(text), &m_window);
    label->setWordWrap(true);
    label->setAlignment(align | Qt::AlignTop);
    return Place(label, id, units);
}

QLabel* TemplateBuilder::Picture(int id, QRect units, const QPixmap& picture) {
    auto* label = new QLabel(&m_window);
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return Place(label, id, units);
}

QGroupBox* TemplateBuilder::Group(QRect units, const char* title) {
    auto* group = new QGroupBox(QString::fromUtf8(title), &m_window);
    group->setFocusPolicy(Qt::NoFocus);
    Place(group, kStaticId, units);
    // Behind the controls it frames, whatever order they came in.
    group->lower();
    return group;
}

QPushButton* TemplateBuilder::Button(int id, QRect units, const char* text, bool isDefault) {
    auto* button = new QPushButton(QString::fromUtf8(text), &m_window);
    button->setDefault(isDefault);
    return Place(button, id, units);
}

QCheckBox* TemplateBuilder::CheckBox(int id, QRect units, const char* text) {
    return Place(new QCheckBox(QString::fromUtf8(text), &m_window), id, units);
}

QLineEdit* TemplateBuilder::Edit(int id, QRect units, bool readOnly) {
    auto* edit = new QLineEdit(&m_window);
    edit->setReadOnly(readOnly);
    return Place(edit, id, units);
}

CDropDownQt* TemplateBuilder::DropDown(int id, QRect units) {
    auto* combo = new CDropDownQt(&m_window);
    Place(combo, id, units);
    // The closed box is as tall as its edit field; the template's height is
    // that of the opened list.
    const int closed = combo->sizeHint().height();
    combo->resize(combo->width(), closed);
    const int itemHeight = std::max(1, combo->fontMetrics().height() + 2);
    combo->setMaxVisibleItems(std::max(1, (m_units.Y(units.height()) - closed) / itemHeight));
    return combo;
}

void TemplateBuilder::FinishTabOrder() {
    for (std::size_t i = 1; i < m_tabOrder.size(); ++i) {
        QWidget::setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
    }
}

QString FindHelpFile(std::string_view file) {
    const QString name = QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size()));
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {QDir::currentPath(), program, program + QStringLiteral("/../share/quillon")}) {
        const QFileInfo info(QDir(folder).filePath(name));
        if (info.isFile()) {
            return info.absoluteFilePath();
        }
    }
    return {};
}

void OpenHelpFile(std::string_view file) {
    const QString path = FindHelpFile(file);
    if (path.isEmpty() || IsOffscreenPlatform()) {
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
