#include <atomic>
#include <memory>

#include <QtTest>

#include "TestHttpsServer.h"
#include "VersionCheck.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;

using namespace UpdateTest;

class tst_VersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void archiveAnswers_data();
    void archiveAnswers();
    void retriesUntilAnswered_data();
    void retriesUntilAnswered();

    void appUpdateAnswers_data();
    void appUpdateAnswers();
    void appUpdateRequest_data();
    void appUpdateRequest();

private:
    std::unique_ptr<TestHttpsServer> server;
    LauncherError launcherError = NoError;
};

void tst_VersionCheck::init()
{
    server.reset(new TestHttpsServer);
    QVERIFY(server->start());
    launcherError = NoError;
}

void tst_VersionCheck::cleanup()
{
    server.reset();
}

void tst_VersionCheck::archiveAnswers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("latest");
    QTest::addColumn<int>("error");

    auto archive = [](const char* version) { return QByteArray(R"({"archive":[{"version":")") + version + "\"}]}"; };
    // The launcher is 2.0: only major and minor count.
    QTest::newRow("2.0.99 is current") << archive("2.0.99") << true << 0;
    QTest::newRow("2.1.0 is newer") << archive("2.1.0") << false << 0;
    QTest::newRow("1.9 is current") << archive("1.9") << true << 0;
    QTest::newRow("two non-numeric parts: major 0") << archive("beta.rc") << true << 0;
    QTest::newRow("only the first entry counts")
        << QByteArray(R"({"archive":[{"version":"2.0"},{"version":"9.9"}]})") << true << 0;
    QTest::newRow("3 has one part") << archive("3") << false << int(LauncherVersionCheckFailed);
    QTest::newRow("empty archive") << QByteArray(R"({"archive":[]})") << false << int(LauncherVersionCheckFailed);
}

void tst_VersionCheck::archiveAnswers()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, latest);
    QFETCH(int, error);
    server->setRoute("/base/orvel/archive/55", TestReply::json(body));

    VersionCheck check(server->urlText("base/"), launcherError);
    QCOMPARE(check.checkLauncherVersion(), latest);
    QCOMPARE(check.launcherLatest(), latest);
    QCOMPARE(int(launcherError), error);
    QCOMPARE(server->requestCount(), 1);
    QCOMPARE(server->requests().first().target, QByteArray("/base/orvel/archive/55?pagesize=1"));
    QVERIFY(server->requests().first().header("Authorization").isEmpty());
}

void tst_VersionCheck::retriesUntilAnswered_data()
{
    QTest::addColumn<int>("failures"); // answers of 503 before the archive
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("error");

    QTest::newRow("answered on the third attempt") << 2 << 3 << int(NoError);
    QTest::newRow("100 failed attempts") << 1000 << 100 << int(NetworkUnstable);
}

void tst_VersionCheck::retriesUntilAnswered()
{
    QFETCH(int, failures);
    QFETCH(int, requests);
    QFETCH(int, error);
    auto calls = std::make_shared<std::atomic<int>>(0);
    server->setHandler("/orvel/archive/55", [calls, failures](const TestRequest&) {
        return calls->fetch_add(1) < failures ? TestReply::text(503, "busy")
                                              : TestReply::json(R"({"archive":[{"version":"2.0.1"}]})");
    });
    VersionCheck check(server->urlText(), launcherError);
    check.setRetry(100, 2);
    QCOMPARE(check.checkLauncherVersion(), error == NoError);
    QCOMPARE(server->requestCount(), requests);
    QCOMPARE(int(launcherError), error);
}

void tst_VersionCheck::appUpdateAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("noUpdate");
    QTest::addColumn<bool>("manifest");
    QTest::addColumn<QString>("message");

    const QString invalid = "invalid server liveupdate.json file.";
    const QByteArray manifest = R"({"version":"2.0","fileList":[{"path":"bin/a b.dll","size":3,"hash":"x"}]})";
    QTest::newRow("empty: no update") << 200 << QByteArray() << 0 << true << false << QString();
    QTest::newRow("manifest: update needed") << 200 << manifest << 0 << false << true << QString();
    QTest::newRow("Not Found") << 200 << QByteArray("Not Found") << int(ServerManifestNotFound) << false << false
                               << QString("liveupdate.json file does not exist.");
    QTest::newRow("Not Found and a line break")
        << 200 << QByteArray("Not Found\n") << int(InvalidServerManifest) << false << false << invalid;
    QTest::newRow("invalid JSON") << 200 << QByteArray("{\"version\":") << int(InvalidServerManifest) << false << false
                                  << invalid;
    // Each refusal of the manifest check (tst_Manifest) counts as an invalid manifest.
    QTest::newRow("refused: unsafe path") << 200 << QByteArray(R"({"fileList":[{"path":"../../etc/x","size":1}]})")
                                          << int(InvalidServerManifest) << false << false << invalid;
    QTest::newRow("status 404") << 404 << QByteArray("Not Found") << int(VersionCheckFailed) << false << false
                                << QString();
}

void tst_VersionCheck::appUpdateAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, error);
    QFETCH(bool, noUpdate);
    QFETCH(bool, manifest);
    QFETCH(QString, message);
    server->setRoute("/orvel/patch", TestReply::text(status, body));
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));

    VersionCheck check(server->urlText(), launcherError);
    check.checkAppVersion(json(R"({"version":"1.0"})"));
    QCOMPARE(int(launcherError), error);
    QCOMPARE(check.noUpdateAvailable(), noUpdate);
    QCOMPARE(!check.serverManifest().document.isEmpty(), manifest);
    if (manifest)
        QCOMPARE(check.serverManifest().document, QJsonDocument::fromJson(body).object());
    // The worker of the answered request is released.
    QTRY_COMPARE(check.findChildren<QObject*>().size(), 0);
}

void tst_VersionCheck::appUpdateRequest_data()
{
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("query");

    const QByteArray os = QByteArray::number(255);
    QTest::newRow("release channel") << QByteArray(R"({"version":"5.1.20.0"})")
                                     << "version=5.1.20.0&os=" + os + "&output=json";
    QTest::newRow("daily channel, number")
        << QByteArray(R"({"targetVersion":7})") << "version=.t&vt=daily&os=" + os + "&output=json";
    QTest::newRow("version text encoded") << QByteArray(R"({"version":"5.1 b#2&x=%41+ü"})")
                                          << "version=5.1%20b%232%26x%3D%2541%2B%C3%BC&os=" + os + "&output=json";
    QTest::newRow("no local manifest") << QByteArray("{}") << "version=0.0.0.0&os=" + os + "&output=json";
}

void tst_VersionCheck::appUpdateRequest()
{
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, query);
    server->setRoute("/orvel/patch", TestReply::text(200, QByteArray()));
    VersionCheck check(server->urlText(), launcherError);
    check.checkAppVersion(json(local.constData()));
    QCOMPARE(server->requestCount(), 1);
    QCOMPARE(server->requests().first().target, "/orvel/patch?" + query);
    QCOMPARE(server->requests().first().method, QByteArray("GET"));
}

QTEST_GUILESS_MAIN(tst_VersionCheck)
#include "tst_VersionCheck.moc"
