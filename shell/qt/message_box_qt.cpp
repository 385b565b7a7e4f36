#include "message_box_qt.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <ostream>

bool IsOffscreenPlatform() {
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

CMessageBoxQt::CMessageBoxQt(std::ostream& offscreenOutput) : m_offscreenOutput(offscreenOutput) {}

void CMessageBoxQt::Show(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (IsOffscreenPlatform()) {
        m_offscreenOutput << caption << ": " << text << std::endl;
        return;
    }
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    m_owner);
    box.exec();
}
