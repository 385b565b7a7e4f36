#include "message_box_qt.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <ostream>

bool IsOffscreenPlatform() {
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

namespace {

// The user answers a box with the ordinary pointer, also when it comes up
// while the program waits for the network under a busy one.
class ArrowWhileBusy {
public:
    ArrowWhileBusy() : m_busy(QGuiApplication::overrideCursor() != nullptr) {
        if (m_busy) {
            QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~ArrowWhileBusy() {
        if (m_busy) {
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ArrowWhileBusy(const ArrowWhileBusy&) = delete;
    ArrowWhileBusy& operator=(const ArrowWhileBusy&) = delete;

private:
    bool m_busy;
};

}  // namespace

CMessageBoxQt::CMessageBoxQt(std::ostream* lineOutput) : m_lineOutput(lineOutput) {}

void CMessageBoxQt::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (m_lineOutput != nullptr) {
        *m_lineOutput << caption << ": " << text << std::endl;
        return;
    }
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    m_owner);
    ArrowWhileBusy arrow;
    box.exec();
}
