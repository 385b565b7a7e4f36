#include "responsive_wait_qt.h"

#include <QEventLoop>
#include <atomic>
#include <system_error>
#include <thread>

bool CResponsiveWaitQt::Run(const std::function<void(std::stop_token)>& job) {
    std::stop_source stop;
    std::atomic<bool> finished{false};
    QEventLoop loop;
    std::thread worker;
    try {
        worker = std::thread([&] {
            job(stop.get_token());
            finished.store(true);
            // Queued: the loop's thread quits it, once it runs (an event
            // still queued when the loop is gone goes with it).
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        job(stop.get_token());  // no thread to be had: wait here, as before
        return true;
    }
    // Ends when the job has, or when the program is told to end (every
    // event loop is left then).
    loop.exec();
    if (!finished.load()) {
        stop.request_stop();
    }
    worker.join();
    return !stop.stop_requested();
}
