// Building a window from its dialog template: each control at its place in
// dialog units, named after its id so that it can be found, in tab order.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <functional>
#include <string_view>
#include <vector>

#include "dialog_units_qt.h"

// The id of controls that nothing refers to.
inline constexpr int kStaticId = -1;

// A drop-down list with an edit field, as the templates have it: the field
// keeps what is typed (no completion from the list), and a pick is a choice
// of an item with the mouse or the keys, not the end of editing a text that
// happens to be listed.
class CDropDownQt final : public QComboBox {
public:
    explicit CDropDownQt(QWidget* parent);
    void SetOnPick(std::function<void()> onPick) { m_onPick = std::move(onPick); }

private:
    std::function<void()> m_onPick;
    bool m_editEnding = false;
};

class TemplateBuilder {
public:
    // Sets the window's font and its client size from the template.
    TemplateBuilder(QWidget& window, int width, int height);

    const DialogUnits& Units() const { return m_units; }

    QLabel* Text(int id, QRect units, const char* text, Qt::Alignment align = Qt::AlignLeft);
    QLabel* Picture(int id, QRect units, const QPixmap& picture);
    QGroupBox* Group(QRect units, const char* title);
    QPushButton* Button(int id, QRect units, const char* text, bool isDefault = false);
    QCheckBox* CheckBox(int id, QRect units, const char* text);
    QLineEdit* Edit(int id, QRect units, bool readOnly = false);
    // A drop-down list with an edit field; `units` holds the height of the
    // opened list.
    CDropDownQt* DropDown(int id, QRect units);

    // Chains the focusable controls in the order they were added.
    void FinishTabOrder();

private:
    template <class W>
    W* Place(W* widget, int id, QRect units);

    QWidget& m_window;
    DialogUnits m_units;
    std::vector<QWidget*> m_tabOrder;
};

// The help file, looked up in the current folder first, then beside the
// program and in the installed data folder; empty when there is none.
QString FindHelpFile(std::string_view file);
// Opens it with the desktop's program for it; a missing file, or no
// display, does nothing.
void OpenHelpFile(std::string_view file);

// The dialog units of a rectangle given as x, y, width, height.
inline QRect Du(int x, int y, int width, int height) {
    return QRect(x, y, width, height);
}
