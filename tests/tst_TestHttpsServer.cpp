// Checks the shared fixtures themselves, so the tests built on them can trust what they report.
#include <memory>

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "BrowserStandIn.h"
#include "TempSettingsHome.h"
#include "TestHttpsServer.h"

using namespace OrvelTest;

namespace {

struct Outcome
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QList<QSslError> sslErrors;
};

Outcome fetch(QNetworkAccessManager& manager, QNetworkRequest request, const QByteArray& method = "GET",
              const QByteArray& body = QByteArray())
{
    QNetworkReply* reply = method == "GET" ? manager.get(request) : manager.sendCustomRequest(request, method, body);
    Outcome outcome;
    QObject::connect(reply, &QNetworkReply::sslErrors,
                     [&outcome](const QList<QSslError>& errors) { outcome.sslErrors = errors; });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(20000);
    outcome.error = reply->error();
    outcome.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    outcome.body = reply->readAll();
    delete reply;
    return outcome;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
    return bytes;
}

} // namespace

class tst_TestHttpsServer : public QObject
{
    Q_OBJECT

private slots:
    void answersRoutes_data();
    void answersRoutes();
    void recordsRequests();
    void untrustedServerIsRefused();
    void delayedReplyHitsTransferTimeout();
    void dropsConnection_data();
    void dropsConnection();
    void stallPausesThenResumes();
    void stopEndsStalledReplyQuickly();
    void followsRedirect();
    void streamsFile();
    void servesParallelKeepAliveConnections();
    void settingsHomeIsolatesSettings();
    void browserStandInRecordsUrls();
};

void tst_TestHttpsServer::answersRoutes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("exact route") << "api/exact" << 200 << QByteArray("{\"a\":1}");
    QTest::newRow("prefix route") << "files/some/deep/name" << 201 << QByteArray("prefix");
    QTest::newRow("longer prefix wins") << "files/special/x" << 500 << QByteArray("special");
    QTest::newRow("unknown path") << "nowhere" << 404 << QByteArray("Not Found");
    QTest::newRow("empty body") << "empty" << 204 << QByteArray();
}

void tst_TestHttpsServer::answersRoutes()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);

    TestHttpsServer server;
    server.setRoute("/api/exact", TestReply::json("{\"a\":1}"));
    server.setRoute("/files/*", TestReply::text(201, "prefix"));
    server.setRoute("/files/special/*", TestReply::text(500, "special"));
    server.setRoute("/empty", TestReply::text(204, QByteArray()));
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    const Outcome outcome = fetch(manager, QNetworkRequest(server.url(path)));
    QCOMPARE(outcome.status, status);
    QCOMPARE(outcome.body, body);
    QVERIFY(outcome.sslErrors.isEmpty());
}

void tst_TestHttpsServer::recordsRequests()
{
    TestHttpsServer server;
    TestReply reply = TestReply::json("[]");
    reply.headers.append(qMakePair(QByteArray("X-Extra"), QByteArray("yes")));
    server.setRoute("/api/items", reply);
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    QNetworkRequest request(server.url("api/items?x=1&y=two"));
    request.setRawHeader("api-version", "2.0");
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* raw = manager.post(request, QByteArray("{\n    \"k\": 0\n}\n"));
    QSignalSpy finished(raw, &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(raw->rawHeader("X-Extra"), QByteArray("yes"));
    delete raw;

    const QList<TestRequest> received = server.requests("/api/items");
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].method, QByteArray("POST"));
    QCOMPARE(received[0].target, QByteArray("/api/items?x=1&y=two"));
    QCOMPARE(received[0].query().queryItemValue("y"), QString("two"));
    QCOMPARE(received[0].header("API-VERSION"), QByteArray("2.0"));
    QCOMPARE(received[0].header("content-type"), QByteArray("application/json"));
    QVERIFY(!received[0].hasHeader("Authorization"));
    QCOMPARE(received[0].body, QByteArray("{\n    \"k\": 0\n}\n"));
    for (const auto& header : received[0].headers)
        QVERIFY2(!header.first.startsWith("REMOTE_") && !header.first.startsWith("LOCAL_"), header.first);
}

void tst_TestHttpsServer::untrustedServerIsRefused()
{
    TestHttpsServer server(TestHttpsServer::Trust::Untrusted);
    server.setRoute("/x", TestReply::text(200, "secret"));
    QVERIFY(server.start());
    QVERIFY(QFile::exists(server.caCertificatePath()));

    QNetworkAccessManager manager;
    const Outcome outcome = fetch(manager, QNetworkRequest(server.url("x")));
    QCOMPARE(outcome.error, QNetworkReply::SslHandshakeFailedError);
    QVERIFY(!outcome.sslErrors.isEmpty());
    QVERIFY(outcome.body.isEmpty());
    QCOMPARE(server.requestCount(), 0);
}

void tst_TestHttpsServer::delayedReplyHitsTransferTimeout()
{
    TestHttpsServer server;
    server.setRoute("/never", TestReply::never());
    TestReply late = TestReply::text(200, "late");
    late.delayMs = 300;
    server.setRoute("/late", late);
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    QNetworkRequest never(server.url("never"));
    never.setTransferTimeout(500);
    QCOMPARE(fetch(manager, never).error, QNetworkReply::OperationCanceledError);

    const Outcome outcome = fetch(manager, QNetworkRequest(server.url("late")));
    QCOMPARE(outcome.error, QNetworkReply::NoError);
    QCOMPARE(outcome.body, QByteArray("late"));
}

void tst_TestHttpsServer::dropsConnection_data()
{
    QTest::addColumn<bool>("beforeAnswer");
    QTest::newRow("before any byte") << true;
    QTest::newRow("in the middle of the body") << false;
}

void tst_TestHttpsServer::dropsConnection()
{
    QFETCH(bool, beforeAnswer);
    TestHttpsServer server;
    TestReply reply = TestReply::text(200, pattern(100000));
    if (beforeAnswer)
        reply.drop = true;
    else
        reply.dropAfterBytes = 5000;
    server.setRoute("/d", reply);
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    const Outcome outcome = fetch(manager, QNetworkRequest(server.url("d")));
    QVERIFY2(outcome.error == QNetworkReply::RemoteHostClosedError ||
                 outcome.error == QNetworkReply::ConnectionRefusedError ||
                 outcome.error == QNetworkReply::UnknownNetworkError,
             qPrintable(QString::number(outcome.error)));
    QVERIFY(outcome.body.size() <= 5000);
}

void tst_TestHttpsServer::stallPausesThenResumes()
{
    TestHttpsServer server;
    const QByteArray body = pattern(200000);
    TestReply reply = TestReply::text(200, body);
    reply.stallAfterBytes = 1000;
    reply.stallMs = 400;
    server.setRoute("/s", reply);
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    QNetworkReply* raw = manager.get(QNetworkRequest(server.url("s")));
    QByteArray received;
    connect(raw, &QNetworkReply::readyRead, [&] { received += raw->readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1000, 10000);
    QSignalSpy finished(raw, &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    received += raw->readAll();
    QCOMPARE(raw->error(), QNetworkReply::NoError);
    QCOMPARE(received, body);
    delete raw;
}

void tst_TestHttpsServer::stopEndsStalledReplyQuickly()
{
    auto server = std::make_unique<TestHttpsServer>();
    TestReply stall = TestReply::text(200, pattern(50000));
    stall.stallAfterBytes = 10;
    server->setRoute("/stall", stall);
    server->setRoute("/never", TestReply::never());
    server->setRoute("/ok", TestReply::text(200, "ok"));
    QVERIFY(server->start());

    QNetworkAccessManager manager;
    // An idle keep-alive connection, a stalled body and a reply that never starts.
    QCOMPARE(fetch(manager, QNetworkRequest(server->url("ok"))).body, QByteArray("ok"));
    QNetworkAccessManager other;
    QNetworkReply* stalled = other.get(QNetworkRequest(server->url("stall")));
    QNetworkAccessManager third;
    QNetworkReply* never = third.get(QNetworkRequest(server->url("never")));
    QTRY_COMPARE_WITH_TIMEOUT(stalled->bytesAvailable(), qint64(10), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/never"), 1, 10000);

    QElapsedTimer clock;
    clock.start();
    server.reset();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

    QSignalSpy stalledDone(stalled, &QNetworkReply::finished);
    QSignalSpy neverDone(never, &QNetworkReply::finished);
    QVERIFY(stalled->isFinished() || stalledDone.wait(10000));
    QVERIFY(never->isFinished() || neverDone.wait(10000));
    QVERIFY(stalled->error() != QNetworkReply::NoError);
    QVERIFY(never->error() != QNetworkReply::NoError);
    delete stalled;
    delete never;
}

void tst_TestHttpsServer::followsRedirect()
{
    TestHttpsServer server;
    server.setRoute("/new", TestReply::text(200, "moved here"));
    QVERIFY(server.start());
    server.setRoute("/old", TestReply::redirect(server.urlText("new").toUtf8()));

    QNetworkAccessManager manager;
    QNetworkRequest request(server.url("old"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    const Outcome outcome = fetch(manager, request);
    QCOMPARE(outcome.status, 200);
    QCOMPARE(outcome.body, QByteArray("moved here"));
    // Qt 5.15 sends the first request a second time on the same connection before following; the server
    // records what arrives.
    QVERIFY(server.requestCount("/old") >= 1);
    QCOMPARE(server.requestCount("/new"), 1);
}

void tst_TestHttpsServer::streamsFile()
{
    QTemporaryDir dir;
    const QByteArray content = pattern(3 * 1024 * 1024 + 17);
    QFile file(dir.filePath("big.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    TestHttpsServer server;
    server.setRoute("/big.bin", TestReply::file(file.fileName()));
    server.setRoute("/missing.bin", TestReply::file(dir.filePath("missing.bin")));
    QVERIFY(server.start());

    QNetworkAccessManager manager;
    const Outcome outcome = fetch(manager, QNetworkRequest(server.url("big.bin")));
    QCOMPARE(outcome.error, QNetworkReply::NoError);
    QCOMPARE(outcome.body.size(), content.size());
    QVERIFY(outcome.body == content);
    QCOMPARE(fetch(manager, QNetworkRequest(server.url("missing.bin"))).status, 404);
}

void tst_TestHttpsServer::servesParallelKeepAliveConnections()
{
    TestHttpsServer server;
    TestReply slow = TestReply::text(200, "x");
    slow.delayMs = 200;
    server.setRoute("/slow", slow);
    QVERIFY(server.start());

    constexpr int clients = 16;
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    int done = 0;
    int ok = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < clients; ++i) {
            if (round == 0)
                managers.push_back(std::make_unique<QNetworkAccessManager>());
            QNetworkReply* reply = managers[i]->get(QNetworkRequest(server.url("slow")));
            connect(reply, &QNetworkReply::finished, [reply, &done, &ok] {
                ok += reply->error() == QNetworkReply::NoError;
                ++done;
                reply->deleteLater();
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(done, clients * (round + 1), 20000);
    }
    QCOMPARE(ok, 2 * clients);
    // All 16 were in flight at once and the second round reused their connections.
    QCOMPARE(server.connectionCount(), clients);
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

void tst_TestHttpsServer::browserStandInRecordsUrls()
{
    BrowserStandIn browser;
    QUrl seen;
    browser.setCallback([&seen](const QUrl& url) { seen = url; });
    QSignalSpy opened(&browser, &BrowserStandIn::urlOpened);
    QVERIFY(QDesktopServices::openUrl(QUrl("https://127.0.0.1:1/account/Login?InstanceId=x")));
    QVERIFY(QDesktopServices::openUrl(QUrl("http://localhost/")));
    QCOMPARE(browser.openedUrls(),
             QList<QUrl>({QUrl("https://127.0.0.1:1/account/Login?InstanceId=x"), QUrl("http://localhost/")}));
    QCOMPARE(seen, QUrl("http://localhost/"));
    QCOMPARE(opened.count(), 2);
}

QTEST_MAIN(tst_TestHttpsServer)
#include "tst_TestHttpsServer.moc"
