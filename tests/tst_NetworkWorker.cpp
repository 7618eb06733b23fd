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

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

class tst_NetworkWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void synchronousOutcome_data();
    void synchronousOutcome();
    void postSendsBodyAndNoExtraHeaders();
    void responseJsonOfNonJsonBody();
    void lastReplyDescribesWorker();

    void untrustedCertificateFails_data();
    void untrustedCertificateFails();
    void silentServerFailsAfterTransferTimeout();
    void everyRequestGetsDefaultTransferTimeout();

    void abortReplyEndsSynchronousWait_data();
    void abortReplyEndsSynchronousWait();
    void ownerDeletedDuringSynchronousWait();
    void asynchronousOneOutcomePerReply();
    void abortAllRepliesCancelsInFlight();

private:
    TestHttpsServer m_server;
};

void tst_NetworkWorker::initTestCase()
{
    m_server.setRoute("/json", TestReply::json("{\"archive\":[{\"version\":\"2.0\"}]}"));
    m_server.setRoute("/created", TestReply::text(201, "created body"));
    m_server.setRoute("/bad", TestReply::text(400, "bad request"));
    m_server.setRoute("/unauthorized", TestReply::text(401, "who are you"));
    m_server.setRoute("/broken", TestReply::text(500, "internal"));
    m_server.setRoute("/empty", TestReply::text(200, QByteArray()));
    m_server.setRoute("/text", TestReply::text(200, "Not Found"));
    m_server.setRoute("/never", TestReply::never());
    m_server.setRoute("/echo", TestReply::text(200, "ok"));
    QVERIFY(m_server.start());
}

void tst_NetworkWorker::synchronousOutcome_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("succeeds");

    QTest::newRow("200 with JSON") << QString("json") << "200" << QByteArray("{\"archive\":[{\"version\":\"2.0\"}]}")
                                   << true;
    QTest::newRow("200 empty body") << QString("empty") << "200" << QByteArray() << true;
    QTest::newRow("201 with a body") << QString("created") << "201" << QByteArray("created body") << false;
    QTest::newRow("400") << QString("bad") << "400" << QByteArray("bad request") << false;
    QTest::newRow("401") << QString("unauthorized") << "401" << QByteArray("who are you") << false;
    QTest::newRow("404 unknown path") << QString("missing") << "404" << QByteArray("Not Found") << false;
    QTest::newRow("500") << QString("broken") << "500" << QByteArray("internal") << false;
    QTest::newRow("closed port: no status, no body") << "@closed" << QString() << QByteArray() << false;
}

void tst_NetworkWorker::synchronousOutcome()
{
    QFETCH(QString, path);
    QFETCH(QString, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, succeeds);

    Owner owner;
    auto* worker = new NetworkWorker(&owner, false);
    QSignalSpy success(worker, &NetworkWorker::success);
    QSignalSpy failure(worker, &NetworkWorker::failure);
    if (!succeeds && !body.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable("error log: " + QString::fromUtf8(body)));
    QUrl url = m_server.url(path);
    if (path == "@closed")
        url.setPort(closedPort());

    worker->get(QNetworkRequest(url));

    // Everything is settled when the call returns.
    QCOMPARE(worker->isSuccess(), succeeds);
    QCOMPARE(worker->statusCode(), status);
    QCOMPARE(worker->responseData(), body);
    QCOMPARE(success.count(), succeeds ? 1 : 0);
    QCOMPARE(failure.count(), succeeds ? 0 : 1);
}

void tst_NetworkWorker::postSendsBodyAndNoExtraHeaders()
{
    m_server.clearRequests();
    NetworkWorker worker(nullptr, false);
    QNetworkRequest request(m_server.url("echo?x=1"));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    worker.post(request, "{\n    \"client\": 0\n}\n");
    QVERIFY(worker.isSuccess());

    const QList<TestRequest> received = m_server.requests("/echo");
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].method, QByteArray("POST"));
    QCOMPARE(received[0].target, QByteArray("/echo?x=1"));
    QCOMPARE(received[0].body, QByteArray("{\n    \"client\": 0\n}\n"));
    QVERIFY(!received[0].hasHeader("Authorization"));
    QVERIFY(!received[0].hasHeader("api-version"));
}

void tst_NetworkWorker::responseJsonOfNonJsonBody()
{
    NetworkWorker worker(nullptr, false);
    worker.get(QNetworkRequest(m_server.url("text")));
    QVERIFY(worker.isSuccess());
    QTest::ignoreMessage(QtDebugMsg, "Failed to Parse Json File");
    QVERIFY(worker.responseJson().isNull());

    worker.get(QNetworkRequest(m_server.url("json")));
    QCOMPARE(worker.responseJson().object().value("archive").toArray().at(0).toObject().value("version").toString(),
             QString("2.0"));
}

void tst_NetworkWorker::lastReplyDescribesWorker()
{
    NetworkWorker worker(nullptr, false);
    worker.get(QNetworkRequest(m_server.url("json")));
    QVERIFY(worker.isSuccess());

    // A request that gets no answer fails and leaves isSuccess() false, whatever came before; the body of the
    // last answer stays.
    QUrl unreachable = m_server.url();
    unreachable.setPort(closedPort());
    worker.get(QNetworkRequest(unreachable));
    QVERIFY(!worker.isSuccess());
    QVERIFY(worker.statusCode().isEmpty());
    QCOMPARE(worker.responseData(), QByteArray("{\"archive\":[{\"version\":\"2.0\"}]}"));

    worker.get(QNetworkRequest(m_server.url("json")));
    QVERIFY(worker.isSuccess());
    QTest::ignoreMessage(QtDebugMsg, "error log: internal");
    worker.get(QNetworkRequest(m_server.url("broken")));
    QVERIFY(!worker.isSuccess());
    QCOMPARE(worker.statusCode(), QString("500"));
    QCOMPARE(worker.responseData(), QByteArray("internal"));
}

void tst_NetworkWorker::untrustedCertificateFails_data()
{
    QTest::addColumn<bool>("async");
    QTest::newRow("synchronous") << false;
    QTest::newRow("asynchronous") << true;
}

void tst_NetworkWorker::untrustedCertificateFails()
{
    QFETCH(bool, async);
    TestHttpsServer untrusted(TestHttpsServer::Trust::Untrusted);
    untrusted.setRoute("/json", TestReply::json("{}"));
    QVERIFY(untrusted.start());

    NetworkWorker worker(nullptr, async);
    QSignalSpy success(&worker, &NetworkWorker::success);
    QSignalSpy failure(&worker, &NetworkWorker::failure);
    worker.get(QNetworkRequest(untrusted.url("json")));
    if (async) {
        QTRY_VERIFY_WITH_TIMEOUT(failure.count() >= 1, 20000);
        QTest::qWait(50);
    } else {
        QCOMPARE(failure.count(), 1);
    }
    QCOMPARE(success.count(), 0);
    QVERIFY(!worker.isSuccess());
    QVERIFY(worker.responseData().isEmpty());
    // The handshake was refused, so the request itself never reached the server.
    QCOMPARE(untrusted.requestCount(), 0);
}

void tst_NetworkWorker::silentServerFailsAfterTransferTimeout()
{
    NetworkWorker worker(nullptr, false);
    worker.setTransferTimeout(700);
    QSignalSpy failure(&worker, &NetworkWorker::failure);
    QElapsedTimer clock;
    clock.start();
    worker.get(QNetworkRequest(m_server.url("never")));
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(failure.count(), 1);
    QVERIFY(!worker.isSuccess());
    QVERIFY(worker.statusCode().isEmpty());
}

void tst_NetworkWorker::everyRequestGetsDefaultTransferTimeout()
{
    QCOMPARE(NetworkWorker(nullptr, false).transferTimeout(), 15000);
    NetworkWorker::setDefaultTransferTimeout(600);
    NetworkWorker worker(nullptr, true);
    NetworkWorker::setDefaultTransferTimeout(NetworkWorker::DefaultTransferTimeoutMs);
    QCOMPARE(worker.transferTimeout(), 600);

    QSignalSpy failure(&worker, &NetworkWorker::failure);
    worker.get(QNetworkRequest(m_server.url("never")));
    QTRY_VERIFY_WITH_TIMEOUT(failure.count() >= 1, 10000);
}

void tst_NetworkWorker::abortReplyEndsSynchronousWait_data()
{
    QTest::addColumn<bool>("withOwner");
    QTest::newRow("the owner's abortReply") << true;
    // Without a parent the worker is its own abort source.
    QTest::newRow("the worker's own abortReply") << false;
}

void tst_NetworkWorker::abortReplyEndsSynchronousWait()
{
    QFETCH(bool, withOwner);
    Owner owner;
    auto* worker = new NetworkWorker(withOwner ? &owner : nullptr, false);
    QScopedPointer<NetworkWorker> orphan(withOwner ? nullptr : worker);
    QSignalSpy failure(worker, &NetworkWorker::failure);
    if (withOwner)
        QTimer::singleShot(100, &owner, &Owner::abortReply);
    else
        QTimer::singleShot(100, worker, &NetworkWorker::abortReply);
    QElapsedTimer clock;
    clock.start();
    worker->get(QNetworkRequest(m_server.url("never")));
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(failure.count(), 1);
    QVERIFY(!worker->isSuccess());
    QVERIFY(worker->statusCode().isEmpty());
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
    worker->post(QNetworkRequest(m_server.url("echo")), "x");
    // Nothing is reported before the event loop runs.
    QCOMPARE(success.count() + failure.count(), 0);
    // The 400 fails twice: once as the reply's error, once when the reply is handled.
    QTRY_COMPARE_WITH_TIMEOUT(success.count() + failure.count(), 4, 20000);
    QTest::qWait(100);
    QCOMPARE(success.count(), 2);
    QCOMPARE(failure.count(), 2);
}

void tst_NetworkWorker::abortAllRepliesCancelsInFlight()
{
    Owner owner;
    auto* worker = new NetworkWorker(&owner, true);
    QSignalSpy failure(worker, &NetworkWorker::failure);
    QSignalSpy success(worker, &NetworkWorker::success);
    m_server.clearRequests();
    worker->get(QNetworkRequest(m_server.url("never")));
    worker->get(QNetworkRequest(m_server.url("never")));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/never"), 2, 10000);
    worker->abortAllReplies();
    // Each cancelled reply fails through onError and again through onReply.
    QTRY_COMPARE_WITH_TIMEOUT(failure.count(), 4, 10000);
    QCOMPARE(success.count(), 0);
    QTest::qWait(50);
    QCOMPARE(failure.count(), 4);
}

QTEST_MAIN(tst_NetworkWorker)
#include "tst_NetworkWorker.moc"
