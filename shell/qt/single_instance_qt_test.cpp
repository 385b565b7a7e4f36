// The activation token on the hand-over: a later copy passes on the one its
// launcher gave it, and the running copy reads it with the request; copies
// that pass none, and lines that are no request of ours, still get the
// window, without a token.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "peers.h"
#include "single_instance_qt.h"

namespace {

class HandOverTest : public testing::Test {
protected:
    HandOverTest() {
        EXPECT_TRUE(m_first.Claim());
        m_first.SetOnShowRequest([this] { m_tokens.push_back(m_first.ActivationToken()); });
    }
    ~HandOverTest() override { qunsetenv(kActivationTokenVariable); }

    // Runs the later copies on a thread of their own while this thread's
    // loop serves the first: bounded in time, not in turns.
    static void WhileServing(const std::function<void()>& later) {
        QEventLoop loop;
        std::thread thread([&] {
            later();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        QTimer::singleShot(60000, &loop, [&loop] { loop.quit(); });
        loop.exec();
        thread.join();
    }

    // A peer that writes `parts` one after the other and returns the answer.
    std::string Send(const std::vector<QByteArray>& parts) {
        QLocalSocket peer;
        peer.connectToServer(m_name);
        if (!peer.waitForConnected(5000)) {
            return "not connected";
        }
        for (const QByteArray& part : parts) {
            peer.write(part);
            peer.waitForBytesWritten(5000);
        }
        while (!peer.canReadLine() && peer.waitForReadyRead(10000)) {
        }
        return peer.readLine().toStdString();
    }

    testsupport::TempDir m_folder;
    QString m_name = QString::fromStdString(m_folder.Path() + "/instance");
    CLocalSingleInstance m_first{m_name};
    std::vector<QString> m_tokens;
};

TEST_F(HandOverTest, ALaterCopyPassesOnItsLaunchersTokenAndOnlyATokenFitForTheLine) {
    const QString launcher = QStringLiteral("gnome-shell/Quillon/2417-3-host_TIME91622");
    const std::vector<std::optional<QString>> given = {
        launcher, std::nullopt, QStringLiteral("two words"), QString(2000, QLatin1Char('x')),
        QStringLiteral("f3a1c2e4b5d6")};
    WhileServing([&] {
        for (const std::optional<QString>& token : given) {
            if (token) {
                qputenv(kActivationTokenVariable, token->toUtf8());
            } else {
                qunsetenv(kActivationTokenVariable);
            }
            CLocalSingleInstance later(m_name);
            if (!later.Claim()) {
                later.HandOver();
            }
        }
    });
    EXPECT_EQ(m_tokens,
              (std::vector<QString>{launcher, {}, {}, {}, QStringLiteral("f3a1c2e4b5d6")}));
}

TEST_F(HandOverTest, RequestsOfOtherFormsAreAnsweredWithoutAToken) {
    std::vector<std::string> answers;
    WhileServing([&] {
        answers.push_back(Send({"show\n"}));                     // a copy from before tokens
        answers.push_back(Send({"sh", "ow 5a55f2cd\r", "\n"}));  // cut across writes
        answers.push_back(Send({"open sesame\n"}));
        answers.push_back(Send({QByteArray(5000, 'x')}));  // no line of ours: not waited out
    });
    EXPECT_EQ(answers, std::vector<std::string>(4, "shown\n"));
    ASSERT_GE(m_tokens.size(), 4u);
    EXPECT_EQ(m_tokens[1], QStringLiteral("5a55f2cd"));
    m_tokens.erase(m_tokens.begin() + 1);
    for (const QString& token : m_tokens) {
        EXPECT_TRUE(token.isEmpty()) << token.toStdString();
    }
    EXPECT_TRUE(m_first.ActivationToken().isEmpty());  // only while a request is served
}

}  // namespace
