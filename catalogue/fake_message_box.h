// Records the message boxes shown, in order, for tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "message_box.h"

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    bool operator==(const ShownMessage&) const = default;
};

class FakeMessageBox final : public IMessageBox {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon icon) override {
        shown.push_back({text, caption, icon});
        if (onShow) {
            onShow();
        }
    }
    std::vector<ShownMessage> shown;
    // Runs while the box is "open", e.g. to check what has happened before
    // the user closed it.
    std::function<void()> onShow;
};
