// The request worker against a real HTTPS server on loopback.
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "NetworkWorker.h"
#include "TestHttpsServer.h"
#include "WorkerOwner.h"

using namespace OrvelTest;

namespace {

// How a synchronous wait ends.
enum class Ends { Answered, OwnerAborts, TimesOut, OwnerDeleted };

} // namespace
Q_DECLARE_METATYPE(Ends)

class tst_NetworkWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server.setRoute("/json", TestReply::json("{\"v\":\"2.0\"}"));
        m_server.setRoute("/created", TestReply::text(201, "created body"));
        m_server.setRoute("/bad", TestReply::text(400, "bad request"));
        m_server.setRoute("/broken", TestReply::text(500, "internal"));
        m_server.setRoute("/moved", TestReply::redirect("/json"));
        TestReply headersOnly = TestReply::json("{\"v\":\"2.0\"}");
        headersOnly.stallAfterBytes = 0;
        m_server.setRoute("/headers-only", headersOnly);
        m_server.setRoute("/never", TestReply::never());
        QVERIFY(m_server.start());
        QVERIFY(m_untrusted.start());
    }

    void synchronousOutcome_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<Ends>("ends");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<LauncherError>("code");
        QTest::addColumn<QString>("detail"); // after the address

        // Rows without an answer keep the body of the worker's earlier 200, but not its status.
        const QByteArray earlier = "{\"v\":\"2.0\"}";
        const auto row = [](const char* name, const QUrl& url) -> QTestData& { return QTest::newRow(name) << url; };
        row("200 with JSON", m_server.url("json")) << Ends::Answered << "200" << earlier << NoError << QString();
        row("201 with a body", m_server.url("created"))
            << Ends::Answered << "201" << QByteArray("created body") << VersionCheckFailed << "HTTP 201";
        // Error answers keep their status and body.
        row("500", m_server.url("broken"))
            << Ends::Answered << "500" << QByteArray("internal") << VersionCheckFailed << "HTTP 500";
        // Redirects are not followed.
        row("redirect", m_server.url("moved"))
            << Ends::Answered << "302" << QByteArray() << VersionCheckFailed << "HTTP 302";
        row("closed port", QUrl("https://127.0.0.1:1/"))
            << Ends::Answered << QString() << earlier << VersionCheckFailed << "Connection refused";
        // The handshake is refused, so the request never reaches the server.
        row("untrusted certificate", m_untrusted.url("json"))
            << Ends::Answered << QString() << earlier << SslError
            << "The root certificate of the certificate chain is self-signed, and untrusted";
        // A 200 whose body never comes does not count.
        row("owner's abortReply after the headers", m_server.url("headers-only"))
            << Ends::OwnerAborts << QString() << earlier << VersionCheckFailed << "Operation canceled";
        row("silent server, transfer timeout", m_server.url("never"))
            << Ends::TimesOut << QString() << earlier << VersionCheckFailed << "Operation canceled";
        row("owner deleted during the wait", m_server.url("never"))
            << Ends::OwnerDeleted << QString() << QByteArray() << NoError << QString();
    }

    void synchronousOutcome()
    {
        QFETCH(QUrl, url);
        QFETCH(Ends, ends);
        QFETCH(QString, status);
        QFETCH(QByteArray, body);
        QFETCH(LauncherError, code);
        QFETCH(QString, detail);

        // The worker is reused, so every row also checks that nothing of the earlier answer leaks into the outcome.
        // Every worker's requests get a time limit, shortened here.
        NetworkWorker::setDefaultTransferTimeout(ends == Ends::TimesOut ? 600
                                                                        : NetworkWorker::DefaultTransferTimeoutMs);
        auto* owner = new WorkerOwner;
        QPointer<NetworkWorker> worker = new NetworkWorker(owner, false);
        NetworkWorker::setDefaultTransferTimeout(NetworkWorker::DefaultTransferTimeoutMs);
        worker->get(QNetworkRequest(m_server.url("json")));
        const int earlierRequests = m_server.requestCount("/json");
        QSignalSpy success(worker, &NetworkWorker::success);
        QSignalSpy failure(worker, &NetworkWorker::failure);
        if (code != NoError && !status.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable("error log: " + QString::fromUtf8(body)));
        // Without the owner's abort the wait ends by itself, at the latest when the shortened time limit runs out.
        QTimer::singleShot(ends == Ends::OwnerAborts ? 300 : 8000, owner, &WorkerOwner::abortReply);
        QTimer watchdog; // for a wait that outlives its owner
        connect(&watchdog, &QTimer::timeout, [] { qFatal("The synchronous wait did not return"); });
        watchdog.start(10000);
        if (ends == Ends::OwnerDeleted)
            QTimer::singleShot(100, [owner] { delete owner; });
        QElapsedTimer clock;
        clock.start();
        worker->get(QNetworkRequest(url));
        QVERIFY(clock.elapsed() < 6000);
        if (ends == Ends::OwnerDeleted) {
            // The call came back without touching the dead worker.
            QVERIFY(!worker);
            return;
        }

        // Everything is settled when the call returns.
        QCOMPARE(worker->isSuccess(), code == NoError);
        QCOMPARE(worker->statusCode(), status);
        QCOMPARE(worker->responseData(), body);
        QCOMPARE(success.count(), code == NoError ? 1 : 0);
        QCOMPARE(failure.count(), code == NoError ? 0 : 1);
        const Failure outcome = worker->lastFailure(VersionCheckFailed);
        QCOMPARE(outcome.code, code);
        QCOMPARE(outcome.detail, detail.isEmpty() ? QString() : url.toString(QUrl::RemoveQuery) + ": " + detail);
        QCOMPARE(m_untrusted.requestCount(), 0);
        QCOMPARE(m_server.requestCount("/json"), earlierRequests + (url == m_server.url("json") ? 1 : 0));
        delete owner;
    }

    void asynchronousOneOutcomePerReply()
    {
        WorkerOwner owner;
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

private:
    TestHttpsServer m_server;
    TestHttpsServer m_untrusted{TestHttpsServer::Trust::Untrusted};
};

QTEST_MAIN(tst_NetworkWorker)
#include "tst_NetworkWorker.moc"
