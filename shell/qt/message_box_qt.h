// Message boxes: modal, OK only, with the stop icon for file errors. Without
// a display (the offscreen platform) each box is one line on standard error,
// "<caption>: <text>", and returns at once.
//
// An empty caption is shown by the desktop as the program's name ("Quillon"):
// X11 windows are not left untitled.
#pragma once

#include <QPointer>
#include <QWidget>
#include <iosfwd>

#include "message_box.h"

bool IsOffscreenPlatform();

class CMessageBoxQt final : public IMessageBox {
public:
    // With `lineOutput` every box is a line there instead (no display).
    explicit CMessageBoxQt(std::ostream* lineOutput);
    // The window that owns the boxes: they are centred on it.
    void SetOwner(QWidget* owner) { m_owner = owner; }
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    std::ostream* m_lineOutput;
    QPointer<QWidget> m_owner;
};
