// The request worker against a real HTTPS server on loopback.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include "NetworkWorker.h"
#include "TestHttpsServer.h"

using namespace OrvelTest;

namespace {

// An owner as the launcher's classes are: it declares abortReply() for the workers it parents.
class Owner : public QObject
{
    Q_OBJECT
signals:
    void abortReply();
};

QUrl closedPortUrl(QUrl url)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    url.setPort(probe.serverPort()); // closed again when probe goes
    return url;
}

} // namespace

class tst_NetworkWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void synchronousOutcome_data();
    void synchronousOutcome();
    void silentServerFailsAfterTransferTimeout();
    void ownerDeletedDuringSynchronousWait();
    void asynchronousOneOutcomePerReply();

private:
    TestHttpsServer m_server;
    TestHttpsServer m_untrusted{TestHttpsServer::Trust::Untrusted};
};

void tst_NetworkWorker::initTestCase()
{
    m_server.setRoute("/json", TestReply::json("{\"v\":\"2.0\"}"));
    m_server.setRoute("/created", TestReply::text(201, "created body"));
    m_server.setRoute("/bad", TestReply::text(400, "bad request"));
    m_server.setRoute("/broken", TestReply::text(500, "internal"));
    m_server.setRoute("/never", TestReply::never());
    QVERIFY(m_server.start());
    QVERIFY(m_untrusted.start());
}

void tst_NetworkWorker::synchronousOutcome_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("succeeds");

    // Rows without an answer keep the body of the worker's earlier 200.
    const QByteArray earlier = "{\"v\":\"2.0\"}";
    QTest::newRow("200 with JSON") << m_server.url("json") << "200" << earlier << true;
    QTest::newRow("201 with a body") << m_server.url("created") << "201" << QByteArray("created body") << false;
    // Error answers keep their status and body.
    QTest::newRow("500") << m_server.url("broken") << "500" << QByteArray("internal") << false;
    QTest::newRow("closed port") << closedPortUrl(m_server.url()) << QString() << earlier << false;
    // The handshake is refused, so the request never reaches the server.
    QTest::newRow("untrusted certificate") << m_untrusted.url("json") << QString() << earlier << false;
    QTest::newRow("no answer, owner's abortReply") << m_server.url("never") << QString() << earlier << false;
}

void tst_NetworkWorker::synchronousOutcome()
{
    QFETCH(QUrl, url);
    QFETCH(QString, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, succeeds);

    // The worker is reused, so every row also checks that nothing of the earlier answer leaks into the outcome.
    Owner owner;
    auto* worker = new NetworkWorker(&owner, false);
    worker->get(QNetworkRequest(m_server.url("json")));
    QSignalSpy success(worker, &NetworkWorker::success);
    QSignalSpy failure(worker, &NetworkWorker::failure);
    if (!succeeds && !status.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable("error log: " + QString::fromUtf8(body)));
    if (url.path() == "/never")
        QTimer::singleShot(100, &owner, &Owner::abortReply);
    worker->get(QNetworkRequest(url));

    // Everything is settled when the call returns.
    QCOMPARE(worker->isSuccess(), succeeds);
    QCOMPARE(worker->statusCode(), status);
    QCOMPARE(worker->responseData(), body);
    QCOMPARE(success.count(), succeeds ? 1 : 0);
    QCOMPARE(failure.count(), succeeds ? 0 : 1);
    QCOMPARE(m_untrusted.requestCount(), 0);
}

void tst_NetworkWorker::silentServerFailsAfterTransferTimeout()
{
    // Every request gets the default time limit: 15 s, shortened here.
    QCOMPARE(NetworkWorker(nullptr, false).transferTimeout(), 15000);
    NetworkWorker::setDefaultTransferTimeout(600);
    NetworkWorker worker(nullptr, false);
    NetworkWorker::setDefaultTransferTimeout(NetworkWorker::DefaultTransferTimeoutMs);
    QSignalSpy failure(&worker, &NetworkWorker::failure);
    worker.get(QNetworkRequest(m_server.url("never")));
    QCOMPARE(failure.count(), 1);
    QVERIFY(!worker.isSuccess());
}

void tst_NetworkWorker::ownerDeletedDuringSynchronousWait()
{
    // A slot that runs inside the nested loop may destroy the window that owns the waiting worker: the call must
    // come back, without touching the dead worker.
    auto* owner = new Owner;
    auto* worker = new NetworkWorker(owner, false);
    QTimer::singleShot(100, [owner] { delete owner; });
    QElapsedTimer clock;
    clock.start();
    worker->get(QNetworkRequest(m_server.url("never")));
    QVERIFY(clock.elapsed() < 10000);
}

void tst_NetworkWorker::asynchronousOneOutcomePerReply()
{
    Owner owner;
    auto* worker = new NetworkWorker(&owner, true);
    QSignalSpy success(worker, &NetworkWorker::success);
    QSignalSpy failure(worker, &NetworkWorker::failure);
    QTest::ignoreMessage(QtDebugMsg, "error log: bad request");
    worker->get(QNetworkRequest(m_server.url("json")));
    worker->get(QNetworkRequest(m_server.url("bad")));
    worker->post(QNetworkRequest(m_server.url("json")), "x");
    QCOMPARE(success.count() + failure.count(), 0);
    // The 400 fails twice: once as the reply's error, once when the reply is handled.
    QTRY_COMPARE_WITH_TIMEOUT(success.count() + failure.count(), 4, 20000);
    QTest::qWait(100);
    QCOMPARE(success.count(), 2);
    QCOMPARE(failure.count(), 2);
}

QTEST_MAIN(tst_NetworkWorker)
#include "tst_NetworkWorker.moc"
