// Message boxes: modal, OK only, with the stop icon for file errors. Without
// a display (the offscreen platform) each box is one line on standard error,
// "<caption>: <text>", and returns at once.
#pragma once

#include <QPointer>
#include <QWidget>
#include <iosfwd>

#include "message_box.h"

bool IsOffscreenPlatform();

class CMessageBoxQt final : public IMessageBox {
public:
    explicit CMessageBoxQt(std::ostream& offscreenOutput);
    // The window that owns the boxes: they are centred on it.
    void SetOwner(QWidget* owner) { m_owner = owner; }
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    std::ostream& m_offscreenOutput;
    QPointer<QWidget> m_owner;
};
