#include <QtTest>

#include "InProcessNetwork.h"
#include "NetworkWorker.h"
#include "VersionCheck.h"

using namespace OrvelTest;

namespace {
struct LauncherCase
{
    TestReply answer;
    bool latest = true;
    int requests = 2;      // -1: not counted
    Failure expected = {}; // its detail: how it starts
    int failures = 0;      // answers of 503 before it
};

struct AppCase
{
    TestReply answer;
    Failure expected = {}; // its detail: a part of it
    QString message = {};  // logged
    bool noUpdate = false;
};
} // namespace
Q_DECLARE_METATYPE(LauncherCase)
Q_DECLARE_METATYPE(AppCase)

class tst_VersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_network.clearRequests();
        NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
        m_network.setRoute("/base/orvel/patch", TestReply()); // no update
    }

    void cleanup() { NetworkWorker::setManagerFactory({}); }

    void launcherCheck_data()
    {
        QTest::addColumn<LauncherCase>("c");

        auto archive = [](const char* v) {
            return TestReply::json("{\"archive\":[{\"version\":\"" + QByteArray(v) + "\"}]}");
        };
        // The launcher is 2.0: only major and minor count. A current launcher goes on with the application check.
        QTest::newRow("2.0.99 is current") << LauncherCase{archive("2.0.99")};
        QTest::newRow("2.1.0 is newer") << LauncherCase{archive("2.1.0"), false, 1};
        QTest::newRow("1.9 is current") << LauncherCase{archive("1.9")};
        QTest::newRow("only the first entry counts")
            << LauncherCase{TestReply::json(R"({"archive":[{"version":"2.0"},{"version":"9.9"}]})")};
        QTest::newRow("3 has one part") << LauncherCase{
            archive("3"), false, 1, {LauncherVersionCheckFailed, R"(launcher version "3" has no minor number)"}};
        const TestReply emptyArchive = TestReply::json(R"({"archive":[]})");
        QTest::newRow("empty archive") << LauncherCase{
            emptyArchive, false, 1, {LauncherVersionCheckFailed, "no launcher version in the answer"}};
        QTest::newRow("answered on the third attempt") << LauncherCase{archive("2.0.1"), true, 4, {}, 2};
        QTest::newRow("100 failed attempts")
            << LauncherCase{archive("2.0.1"), false, 100, {NetworkUnstable, "HTTP 503 after 100 attempts"}, 1000};
        // The time limit of the whole check (1.5 s here) also ends an attempt that gets no answer.
        QTest::newRow("silent service: ends with the time limit")
            << LauncherCase{TestReply::never(), false, -1, {NetworkUnstable, "no answer after "}};
    }

    void launcherCheck()
    {
        QFETCH(LauncherCase, c);
        int calls = 0;
        m_network.setHandler("/base/orvel/archive/55", [&](const TestRequest&) {
            return calls++ < c.failures ? TestReply::text(503, "busy") : c.answer;
        });

        VersionCheck check("https://update.test/base/");
        check.setRetry(100, 1, 1500);
        QSignalSpy finished(&check, &VersionCheck::finished);
        const QDeadlineTimer limit(4000);
        check.start(Manifest());
        QVERIFY(finished.wait(5000));
        QVERIFY(!limit.hasExpired());
        const Failure failure = finished.first().first().value<Failure>();
        QCOMPARE(int(failure.code), int(c.expected.code));
        QVERIFY2(failure.detail.startsWith(c.expected.detail), qPrintable(failure.detail));
        QCOMPARE(check.launcherLatest(), c.latest);
        QVERIFY(check.isFinished());
        if (c.requests >= 0) {
            QCOMPARE(m_network.requests().size(), c.requests);
            QCOMPARE(m_network.requests().first().target, QByteArray("/base/orvel/archive/55?pagesize=1"));
        }
    }

    void appCheck_data()
    {
        QTest::addColumn<AppCase>("c");

        const QString invalid = "invalid server liveupdate.json file.";
        const QByteArray manifest = R"({"version":"2.0","fileList":[{"path":"bin/a b.dll","size":3,"hash":"x"}]})";
        const auto text = [](const QByteArray& body) { return TestReply::text(200, body); };
        QTest::newRow("empty: no update") << AppCase{text(""), {}, {}, true};
        QTest::newRow("manifest: update needed") << AppCase{text(manifest)};
        QTest::newRow("Not Found") << AppCase{
            text("Not Found"), {ServerManifestNotFound, ""}, "liveupdate.json file does not exist."};
        QTest::newRow("Not Found and a line break")
            << AppCase{text("Not Found\n"), {InvalidServerManifest, "illegal value"}, invalid};
        QTest::newRow("JSON, not an object")
            << AppCase{text("[1]"), {InvalidServerManifest, "not a JSON object"}, invalid};
        // Each refusal of the manifest check (tst_Manifest) counts as an invalid manifest, with its reason.
        QTest::newRow("refused: unsafe path")
            << AppCase{text(R"({"fileList":[{"path":"../../etc/x","size":1}]})"),
                       {InvalidServerManifest, R"(fileList[0]: unsafe path "../../etc/x")"},
                       invalid};
        QTest::newRow("status 404") << AppCase{TestReply::text(404, "Not Found"), {VersionCheckFailed, "HTTP 404"}};
    }

    void appCheck()
    {
        QFETCH(AppCase, c);
        m_network.setRoute("/orvel/patch", c.answer);
        if (!c.message.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable(c.message));

        VersionCheck check("https://update.test/");
        Manifest installed;
        installed.version = "1.0";
        const Failure failure = check.checkAppVersion(installed);
        QCOMPARE(int(failure.code), int(c.expected.code));
        QVERIFY2(failure.detail.contains(c.expected.detail), qPrintable(failure.detail));
        QCOMPARE(check.noUpdateAvailable(), c.noUpdate);
        const bool update = !failure.failed() && !c.noUpdate;
        QCOMPARE(check.serverManifest().document,
                 update ? QJsonDocument::fromJson(c.answer.body).object() : QJsonObject());
        QCOMPARE(m_network.requests().size(), 1);
        QCOMPARE(m_network.requests().first().target, QByteArray("/orvel/patch?version=1.0&os=255&output=json"));
        // The worker of the answered request is released.
        QTRY_COMPARE(check.findChildren<QObject*>().size(), 0);
    }

private:
    InProcessNetwork m_network;
};

QTEST_GUILESS_MAIN(tst_VersionCheck)
#include "tst_VersionCheck.moc"
