// Fixture guarantees the other tests depend on without exercising them: a server stop never hangs on a reply that
// is still being held back, and TempSettingsHome keeps every test away from the real user's settings.
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include "TempSettingsHome.h"
#include "TestHttpsServer.h"

using namespace OrvelTest;

class tst_TestHttpsServer : public QObject
{
    Q_OBJECT

private slots:
    void stopEndsStalledReplyQuickly();
    void settingsHomeIsolatesSettings();
};

void tst_TestHttpsServer::stopEndsStalledReplyQuickly()
{
    auto server = std::make_unique<TestHttpsServer>();
    TestReply stall = TestReply::text(200, QByteArray(50000, 'x'));
    stall.stallAfterBytes = 10;
    server->setRoute("/stall", stall);
    server->setRoute("/never", TestReply::never());
    server->setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server->start());

    // An idle keep-alive connection, a stalled body and a reply that never starts.
    QNetworkAccessManager idle, other, third;
    QNetworkReply* ok = idle.get(QNetworkRequest(server->url("ok")));
    QNetworkReply* stalled = other.get(QNetworkRequest(server->url("stall")));
    QNetworkReply* never = third.get(QNetworkRequest(server->url("never")));
    QTRY_VERIFY_WITH_TIMEOUT(ok->isFinished(), 10000);
    QCOMPARE(ok->readAll(), QByteArray("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(stalled->bytesAvailable(), qint64(10), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/never"), 1, 10000);

    QElapsedTimer clock;
    clock.start();
    server.reset();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

    for (QNetworkReply* reply : {stalled, never}) {
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
        QVERIFY(reply->error() != QNetworkReply::NoError);
    }
    qDeleteAll(QList<QNetworkReply*>{ok, stalled, never});
}

void tst_TestHttpsServer::settingsHomeIsolatesSettings()
{
    const QByteArray homeBefore = qgetenv("HOME");
    const QByteArray tmpBefore = qgetenv("TMPDIR");
    QString firstConfig;
    {
        TempSettingsHome home;
        QVERIFY(home.isValid());
        firstConfig = home.configPath();
        QCOMPARE(QDir::tempPath(), home.tempPath());
        QCOMPARE(QDir::homePath(), home.homePath());
        QSettings("Orvel", "App").setValue("StaySignedIn", true);
        QVERIFY(QFile::exists(home.configPath() + "/Orvel/App.conf"));
    }
    QCOMPARE(qgetenv("HOME"), homeBefore);
    QCOMPARE(qgetenv("TMPDIR"), tmpBefore);
    {
        // QSettings caches its folder; a second home must still start empty.
        TempSettingsHome home;
        QVERIFY(home.configPath() != firstConfig);
        QVERIFY(!QSettings("Orvel", "App").contains("StaySignedIn"));
    }
}

QTEST_MAIN(tst_TestHttpsServer)
#include "tst_TestHttpsServer.moc"
