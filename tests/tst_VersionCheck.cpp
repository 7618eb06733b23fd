#include <QElapsedTimer>
#include <QtTest>

#include "InProcessNetwork.h"
#include "NetworkWorker.h"
#include "VersionCheck.h"

using namespace OrvelTest;
Q_DECLARE_METATYPE(TestReply)

class tst_VersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { NetworkWorker::setManagerFactory({}); }
    void launcherCheck_data();
    void launcherCheck();
    void appCheck_data();
    void appCheck();

private:
    InProcessNetwork m_network;
};

void tst_VersionCheck::init()
{
    m_network.clearRequests();
    NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
    m_network.setRoute("/base/orvel/patch", TestReply()); // no update
}

void tst_VersionCheck::launcherCheck_data()
{
    QTest::addColumn<TestReply>("answer");
    QTest::addColumn<int>("failures"); // answers of 503 before it
    QTest::addColumn<bool>("latest");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("detail"); // how it starts
    QTest::addColumn<int>("requests");   // -1: not counted

    auto archive = [](const char* v) {
        return TestReply::json(R"({"archive":[{"version":")" + QByteArray(v) + "\"}]}");
    };
    // The launcher is 2.0: only major and minor count. A current launcher goes on with the application check.
    QTest::newRow("2.0.99 is current") << archive("2.0.99") << 0 << true << 0 << QString() << 2;
    QTest::newRow("2.1.0 is newer") << archive("2.1.0") << 0 << false << 0 << QString() << 1;
    QTest::newRow("1.9 is current") << archive("1.9") << 0 << true << 0 << QString() << 2;
    QTest::newRow("only the first entry counts")
        << TestReply::json(R"({"archive":[{"version":"2.0"},{"version":"9.9"}]})") << 0 << true << 0 << QString() << 2;
    QTest::newRow("3 has one part") << archive("3") << 0 << false << int(LauncherVersionCheckFailed)
                                    << R"(launcher version "3" has no minor number)" << 1;
    QTest::newRow("empty archive") << TestReply::json(R"({"archive":[]})") << 0 << false
                                   << int(LauncherVersionCheckFailed) << "no launcher version in the answer" << 1;
    QTest::newRow("answered on the third attempt") << archive("2.0.1") << 2 << true << 0 << QString() << 4;
    QTest::newRow("100 failed attempts") << archive("2.0.1") << 1000 << false << int(NetworkUnstable)
                                         << "HTTP 503 after 100 attempts" << 100;
    // The time limit of the whole check (1.5 s here) also ends an attempt that gets no answer.
    TestReply silent;
    silent.delayMs = TestReply::Forever;
    QTest::newRow("silent service: ends with the time limit")
        << silent << 0 << false << int(NetworkUnstable) << "no answer after " << -1;
}

void tst_VersionCheck::launcherCheck()
{
    QFETCH(TestReply, answer);
    QFETCH(int, failures);
    QFETCH(bool, latest);
    QFETCH(int, error);
    QFETCH(QString, detail);
    QFETCH(int, requests);
    int calls = 0;
    m_network.setHandler("/base/orvel/archive/55", [&](const TestRequest&) {
        return calls++ < failures ? TestReply::text(503, "busy") : answer;
    });

    VersionCheck check("https://update.test/base/");
    check.setRetry(100, 1, 1500);
    QSignalSpy finished(&check, &VersionCheck::finished);
    QElapsedTimer clock;
    clock.start();
    check.start(Manifest());
    QVERIFY(finished.wait(5000));
    QVERIFY(clock.elapsed() < 4000);
    const Failure failure = finished.first().first().value<Failure>();
    QCOMPARE(int(failure.code), error);
    QVERIFY2(failure.detail.startsWith(detail), qPrintable(failure.detail));
    QCOMPARE(check.launcherLatest(), latest);
    QCOMPARE(check.isFinished(), true);
    if (requests >= 0) {
        QCOMPARE(m_network.requests().size(), requests);
        QCOMPARE(m_network.requests().first().target, QByteArray("/base/orvel/archive/55?pagesize=1"));
    }
}

void tst_VersionCheck::appCheck_data()
{
    QTest::addColumn<TestReply>("answer");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("noUpdate");
    QTest::addColumn<QString>("message");

    const QString invalid = "invalid server liveupdate.json file.";
    const QByteArray manifest = R"({"version":"2.0","fileList":[{"path":"bin/a b.dll","size":3,"hash":"x"}]})";
    const auto text = [](const QByteArray& body) { return TestReply::text(200, body); };
    QTest::newRow("empty: no update") << text("") << 0 << QString() << true << QString();
    QTest::newRow("manifest: update needed") << text(manifest) << 0 << QString() << false << QString();
    QTest::newRow("Not Found") << text("Not Found") << int(ServerManifestNotFound) << QString() << false
                               << "liveupdate.json file does not exist.";
    QTest::newRow("Not Found and a line break")
        << text("Not Found\n") << int(InvalidServerManifest) << "illegal value" << false << invalid;
    QTest::newRow("JSON, not an object") << text("[1]") << int(InvalidServerManifest) << "not a JSON object" << false
                                         << invalid;
    // Each refusal of the manifest check (tst_Manifest) counts as an invalid manifest, with its reason.
    QTest::newRow("refused: unsafe path")
        << text(R"({"fileList":[{"path":"../../etc/x","size":1}]})") << int(InvalidServerManifest)
        << R"(fileList[0]: unsafe path "../../etc/x")" << false << invalid;
    QTest::newRow("status 404") << TestReply::text(404, "Not Found") << int(VersionCheckFailed) << "HTTP 404" << false
                                << QString();
}

void tst_VersionCheck::appCheck()
{
    QFETCH(TestReply, answer);
    QFETCH(int, error);
    QFETCH(QString, detail);
    QFETCH(bool, noUpdate);
    QFETCH(QString, message);
    m_network.setRoute("/orvel/patch", answer);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));

    VersionCheck check("https://update.test/");
    Manifest installed;
    installed.version = "1.0";
    const Failure failure = check.checkAppVersion(installed);
    QCOMPARE(int(failure.code), error);
    QVERIFY2(failure.detail.contains(detail), qPrintable(failure.detail));
    QCOMPARE(check.noUpdateAvailable(), noUpdate);
    const bool update = !error && !noUpdate;
    QCOMPARE(check.serverManifest().document, update ? QJsonDocument::fromJson(answer.body).object() : QJsonObject());
    QCOMPARE(m_network.requests().size(), 1);
    QCOMPARE(m_network.requests().first().target, QByteArray("/orvel/patch?version=1.0&os=255&output=json"));
    // The worker of the answered request is released.
    QTRY_COMPARE(check.findChildren<QObject*>().size(), 0);
}

QTEST_GUILESS_MAIN(tst_VersionCheck)
#include "tst_VersionCheck.moc"
