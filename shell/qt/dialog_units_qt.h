// Dialog templates are laid out in dialog units: a quarter of the dialog
// font's average character width across, an eighth of its height down.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// The font the templates name ("MS Shell Dlg" and "MS Sans Serif", 8 points)
// is the desktop's own sans-serif face at 8 points here.
QFont DialogFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};
