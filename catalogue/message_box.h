// The one thing the catalogue asks of the windows: a modal message box with an
// OK button. The Qt and Win32 views implement it.
#pragma once

#include <string>

enum class MessageIcon {
    None,
    Stop,  // the file-error boxes
};

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Returns when the user has closed the box.
    virtual void Show(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};
