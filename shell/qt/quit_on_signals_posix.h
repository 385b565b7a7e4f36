// The end of a session (logout sends SIGTERM), Ctrl+C and a closed terminal
// end the program's run like its own end does: the main loop returns and the
// main window goes in order, keeping what it keeps on every way out.
#pragma once

#include <QSocketNotifier>
#include <memory>

class QuitOnSignals {
public:
    // Needs the application object; from then on SIGTERM, SIGINT and SIGHUP
    // end its event loops with status 0.
    QuitOnSignals();
    ~QuitOnSignals();
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

    // Whether a signal came: one that came before the main loop runs (while
    // the start waits on the network) is to end the program all the same.
    bool Signalled() const { return m_signalled; }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_signalled = false;
};
