// Draws the program's pictures: icon 128 (a feather crossing a ring, at the
// sizes the desktop asks for) and bitmap 137 (the 200 x 31 logo with the
// product's name, 24 bits per pixel).
//   quillon_artwork OUTPUT_FOLDER
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kDeep(0x1d, 0x3b, 0x58);
const QColor kTeal(0x2a, 0x9d, 0x8f);
const QColor kPaper(0xf6, 0xf4, 0xee);

// The mark on a square of `size`: a ring (the guarded connection) and a quill
// laid across it.
void DrawMark(QPainter& p, qreal size) {
    p.save();
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient disc(0, 0, 64, 64);
    disc.setColorAt(0, kTeal);
    disc.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(QRectF(2, 2, 60, 60));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kPaper, 5));
    p.drawEllipse(QRectF(14, 14, 36, 36));
    // The quill: a vane from the upper right down to a nib at the lower left.
    QPainterPath vane;
    vane.moveTo(52, 8);
    vane.cubicTo(40, 12, 26, 26, 20, 44);
    vane.cubicTo(30, 38, 44, 26, 52, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawPath(vane);
    p.setPen(QPen(kDeep, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 11), QPointF(21, 43));
    p.setPen(QPen(kPaper, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(21, 43), QPointF(13, 54));
    p.restore();
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawMark(p, size);
    return image;
}

QImage Logo() {
    QImage image(200, 31, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient band(0, 0, 200, 0);
    band.setColorAt(0, kPaper);
    band.setColorAt(1, QColor(0xdc, 0xea, 0xe8));
    p.fillRect(image.rect(), band);
    p.translate(3, 2);
    DrawMark(p, 27);
    p.resetTransform();
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(20);
    name.setBold(true);
    p.setFont(name);
    p.setPen(kDeep);
    p.drawText(QRect(36, 0, 120, 31), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Quillon"));
    QFont tag(QStringLiteral("DejaVu Sans"));
    tag.setPixelSize(9);
    p.setFont(tag);
    p.setPen(kTeal);
    p.drawText(QRect(130, 0, 66, 31), Qt::AlignVCenter | Qt::AlignRight | Qt::TextWordWrap,
               QStringLiteral("anonymous browsing"));
    p.setPen(QPen(kTeal, 2));
    p.drawLine(QPointF(36, 28.5), QPointF(196, 28.5));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon_artwork OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    for (const int size : {16, 32, 48, 256}) {
        ok = Icon(size).save(folder + QStringLiteral("/icon128-%1.png").arg(size)) && ok;
    }
    ok = Logo().save(folder + QStringLiteral("/bitmap137.bmp")) && ok;
    return ok ? 0 : 1;
}
