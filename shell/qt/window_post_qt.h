// The Qt program's post to the window's thread: a queued call on an object
// that lives there.
#pragma once

#include <QObject>

#include "window_post.h"

class CWindowPostQt final : public IWindowPost {
public:
    // `receiver` lives on the window's thread and outlives every Post call
    // (hand this out through a ClosablePost, closed before it goes).
    explicit CWindowPostQt(QObject& receiver) : m_receiver(receiver) {}
    void Post(std::function<void()> work) override {
        QMetaObject::invokeMethod(&m_receiver, std::move(work), Qt::QueuedConnection);
    }

private:
    QObject& m_receiver;
};
