#include "single_instance_qt.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>

namespace {

constexpr int kConnectMs = 1000;
// How long a later copy waits for the running one to say that its window is
// up; a copy busy for longer (waiting on the network) shows it when it can.
constexpr int kAnswerMs = 5000;
constexpr char kShowWord[] = "show";
constexpr char kShownAnswer[] = "shown\n";
// Tokens are short printable words (a UUID, a desktop's name and a time);
// a line longer than this is no request of ours and is not waited out.
constexpr qsizetype kMaxToken = 1024;
constexpr qsizetype kMaxRequest = kMaxToken + 8;

bool IsToken(const QByteArray& text) {
    return !text.isEmpty() && text.size() <= kMaxToken &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// "show", or "show TOKEN": copies before the token send the bare word and
// ignore whatever follows it.
QByteArray ShowRequest(const QByteArray& token) {
    return QByteArray(kShowWord) + (IsToken(token) ? ' ' + token : QByteArray()) + '\n';
}

// Any whole line asks for the window; a token only in the form above.
QString TokenOfRequest(const QByteArray& line) {
    const QByteArray prefix = QByteArray(kShowWord) + ' ';
    const QByteArray request = line.trimmed();
    const QByteArray token = request.mid(prefix.size());
    return line.endsWith('\n') && request.startsWith(prefix) && IsToken(token)
               ? QString::fromLatin1(token)
               : QString();
}

}  // namespace

QString CLocalSingleInstance::SocketName() {
    const QString name = QString::fromLatin1(kSingleInstanceName);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
        return QDir(runtime).filePath(name);
    }
    return name;
}

CLocalSingleInstance::CLocalSingleInstance(QString name) : m_name(std::move(name)) {}

CLocalSingleInstance::~CLocalSingleInstance() = default;

bool CLocalSingleInstance::RunningCopyAnswers() {
    m_peer = std::make_unique<QLocalSocket>();
    m_peer->connectToServer(m_name);
    if (m_peer->waitForConnected(kConnectMs)) {
        return true;
    }
    m_peer.reset();
    return false;
}

bool CLocalSingleInstance::Claim() {
    if (RunningCopyAnswers()) {
        return false;
    }
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // Another copy may have started just now; otherwise the socket is
        // left over from a copy that did not end cleanly.
        if (RunningCopyAnswers()) {
            m_server.reset();
            return false;
        }
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) {
            // Not another copy: run as the first, as a failed mutex would.
            return true;
        }
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [this] { Accept(); });
    return true;
}

void CLocalSingleInstance::Accept() {
    while (QLocalSocket* client = m_server->nextPendingConnection()) {
        QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        QObject::connect(client, &QLocalSocket::readyRead, client,
                         [this, client] { Serve(*client); });
        // What arrived before the connection above is not announced again.
        Serve(*client);
    }
}

void CLocalSingleInstance::Serve(QLocalSocket& client) {
    // A request is a whole line, however the reads cut it.
    if (!client.canReadLine() && client.bytesAvailable() <= kMaxRequest) {
        return;
    }
    const QByteArray line = client.readLine(kMaxRequest + 1);
    client.readAll();
    m_activationToken = TokenOfRequest(line);
    if (m_onShow) {
        m_onShow();
    }
    m_activationToken.clear();
    client.write(kShownAnswer, sizeof kShownAnswer - 1);
    client.flush();
}

void CLocalSingleInstance::HandOver() {
    if (!m_peer) {
        return;
    }
    m_peer->write(ShowRequest(qgetenv(kActivationTokenVariable)));
    m_peer->waitForBytesWritten(kConnectMs);
    // Ends once the running copy has shown its window, so that whoever
    // started this one finds it up.
    QElapsedTimer waited;
    waited.start();
    while (!m_peer->canReadLine() && m_peer->state() == QLocalSocket::ConnectedState &&
           waited.elapsed() < kAnswerMs) {
        m_peer->waitForReadyRead(static_cast<int>(kAnswerMs - waited.elapsed()));
    }
    m_peer->disconnectFromServer();
    if (m_peer->state() != QLocalSocket::UnconnectedState) {
        m_peer->waitForDisconnected(kConnectMs);
    }
    m_peer.reset();
}
