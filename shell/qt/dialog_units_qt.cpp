#include "dialog_units_qt.h"

#include <QApplication>
#include <QFontMetrics>

namespace {

// MulDiv: rounded to the nearest, as the dialog manager converts.
int Scale(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    return static_cast<int>((product + (product >= 0 ? denominator : -denominator) / 2) /
                            denominator);
}

}  // namespace

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded as the dialog manager does.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::X(int units) const {
    return Scale(units, m_baseX, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, m_baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}
