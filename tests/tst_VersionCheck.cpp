#include <QtTest>

#include "InProcessHttpFake.h"
#include "VersionCheck.h"

using namespace OrvelTest;
using Answer = InProcessHttpFake::Answer;
Q_DECLARE_METATYPE(Answer)

class tst_VersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void launcherCheck_data();
    void launcherCheck();
    void appCheck_data();
    void appCheck();
};

void tst_VersionCheck::launcherCheck_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("failures"); // answers of 503 before the body
    QTest::addColumn<bool>("latest");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("detail");

    auto archive = [](const char* version) { return QByteArray(R"({"archive":[{"version":")") + version + "\"}]}"; };
    // The launcher is 2.0: only major and minor count.
    QTest::newRow("2.0.99 is current") << archive("2.0.99") << 0 << true << 0 << QString();
    QTest::newRow("2.1.0 is newer") << archive("2.1.0") << 0 << false << 0 << QString();
    QTest::newRow("1.9 is current") << archive("1.9") << 0 << true << 0 << QString();
    QTest::newRow("two non-numeric parts: major 0") << archive("beta.rc") << 0 << true << 0 << QString();
    QTest::newRow("only the first entry counts")
        << QByteArray(R"({"archive":[{"version":"2.0"},{"version":"9.9"}]})") << 0 << true << 0 << QString();
    QTest::newRow("3 has one part") << archive("3") << 0 << false << int(LauncherVersionCheckFailed)
                                    << R"(launcher version "3" has no minor number)";
    QTest::newRow("empty archive") << QByteArray(R"({"archive":[]})") << 0 << false << int(LauncherVersionCheckFailed)
                                   << "no launcher version in the answer";
    QTest::newRow("answered on the third attempt") << archive("2.0.1") << 2 << true << 0 << QString();
    QTest::newRow("100 failed attempts") << archive("2.0.1") << 1000 << false << int(NetworkUnstable)
                                         << "HTTP 503 after 100 attempts";
}

void tst_VersionCheck::launcherCheck()
{
    QFETCH(QByteArray, body);
    QFETCH(int, failures);
    QFETCH(bool, latest);
    QFETCH(int, error);
    QFETCH(QString, detail);
    int calls = 0;
    InProcessHttpFake service([&](const QByteArray&) {
        return calls++ < failures ? Answer{503, "busy"} : Answer{200, body};
    });

    VersionCheck check(service.url() + "base/");
    check.setRetry(100, 1);
    const Failure failure = check.checkLauncherVersion();
    QCOMPARE(int(failure.code), error);
    QCOMPARE(failure.detail, detail);
    QCOMPARE(check.launcherLatest(), latest);
    QCOMPARE(service.targets().size(), qMin(failures + 1, 100));
    QCOMPARE(service.targets().first(), QByteArray("/base/orvel/archive/55?pagesize=1"));
}

void tst_VersionCheck::appCheck_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("noUpdate");
    QTest::addColumn<QString>("message");

    const QString invalid = "invalid server liveupdate.json file.";
    const QByteArray manifest = R"({"version":"2.0","fileList":[{"path":"bin/a b.dll","size":3,"hash":"x"}]})";
    QTest::newRow("empty: no update") << Answer{200, ""} << 0 << QString() << true << QString();
    QTest::newRow("manifest: update needed") << Answer{200, manifest} << 0 << QString() << false << QString();
    QTest::newRow("Not Found") << Answer{200, "Not Found"} << int(ServerManifestNotFound) << QString() << false
                               << "liveupdate.json file does not exist.";
    QTest::newRow("Not Found and a line break")
        << Answer{200, "Not Found\n"} << int(InvalidServerManifest) << "illegal value" << false << invalid;
    QTest::newRow("JSON, not an object") << Answer{200, "[1]"} << int(InvalidServerManifest) << "not a JSON object"
                                         << false << invalid;
    // Each refusal of the manifest check (tst_Manifest) counts as an invalid manifest, with its reason.
    QTest::newRow("refused: unsafe path")
        << Answer{200, R"({"fileList":[{"path":"../../etc/x","size":1}]})"} << int(InvalidServerManifest)
        << R"(fileList[0]: unsafe path "../../etc/x")" << false << invalid;
    QTest::newRow("status 404") << Answer{404, "Not Found"} << int(VersionCheckFailed) << "HTTP 404" << false
                                << QString();
}

void tst_VersionCheck::appCheck()
{
    QFETCH(Answer, answer);
    QFETCH(int, error);
    QFETCH(QString, detail);
    QFETCH(bool, noUpdate);
    QFETCH(QString, message);
    InProcessHttpFake service([answer](const QByteArray&) { return answer; });
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));

    VersionCheck check(service.url());
    Manifest installed;
    installed.version = "1.0";
    const Failure failure = check.checkAppVersion(installed);
    QCOMPARE(int(failure.code), error);
    QVERIFY2(failure.detail.contains(detail), qPrintable(failure.detail));
    QCOMPARE(check.noUpdateAvailable(), noUpdate);
    const bool update = !error && !noUpdate;
    QCOMPARE(check.serverManifest().document, update ? QJsonDocument::fromJson(answer.body).object() : QJsonObject());
    QCOMPARE(service.targets(), QList<QByteArray>{"/orvel/patch?version=1.0&os=255&output=json"});
    // The worker of the answered request is released.
    QTRY_COMPARE(check.findChildren<QObject*>().size(), 0);
}

QTEST_GUILESS_MAIN(tst_VersionCheck)
#include "tst_VersionCheck.moc"
