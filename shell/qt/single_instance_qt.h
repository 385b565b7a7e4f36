// One copy per user session: the first copy listens on a local socket named
// after the program's single-instance name; a later copy connects to it and
// asks for the main window, passing on the activation token its launcher
// gave it (a desktop raises a window only with one).
#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <functional>
#include <memory>

#include "shell_app.h"

// Where a launcher puts the token for the program it starts (xdg-activation).
inline constexpr char kActivationTokenVariable[] = "XDG_ACTIVATION_TOKEN";

class CLocalSingleInstance final : public ISingleInstance {
public:
    // In $XDG_RUNTIME_DIR when there is one (private to the user), otherwise
    // in the temporary folder.
    static QString SocketName();

    explicit CLocalSingleInstance(QString name = SocketName());
    ~CLocalSingleInstance() override;

    bool Claim() override;
    // Returns when the running copy has answered that its window is shown
    // (or after a few seconds without an answer).
    void HandOver() override;

    // Called on the first copy's thread when a later copy asks.
    void SetOnShowRequest(std::function<void()> onShow) { m_onShow = std::move(onShow); }
    // While that call runs: the activation token the later copy passed on
    // (empty without one, and from copies that pass none).
    const QString& ActivationToken() const { return m_activationToken; }

private:
    bool RunningCopyAnswers();
    void Accept();
    void Serve(QLocalSocket& client);

    QString m_name;
    std::unique_ptr<QLocalSocket> m_peer;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_onShow;
    QString m_activationToken;
};
