// The stand-in design application, started the way the launcher starts it: "Orvel /token TEXT".
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "CryptoUtil.h"
#include "SealingKey.h"
#include "TestToken.h"
#include "UpdateTestFiles.h"

namespace {
const std::string kKey = SealingKey;

QByteArray jwt(const QJsonObject& claims)
{
    return OrvelTest::makeTestToken(QJsonDocument(claims).toJson(QJsonDocument::Compact));
}

// As the launcher hands it over: sealed, then Base64url with the padding kept.
QString sealForCommandLine(const QByteArray& token)
{
    const QByteArray blob = Verdant::CryptoUtil().encrypt(token, kKey);
    return QString::fromLatin1(blob.toBase64(QByteArray::Base64UrlEncoding));
}
} // namespace

class tst_DevApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusLine_data();
    void statusLine();
    void demoBuilds();

private:
    QString run(const QString& folder, const QStringList& arguments, int* exitCode);

    QTemporaryDir m_dir;
};

void tst_DevApp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::copy(ORVEL_BIN_DIR "/Orvel", m_dir.filePath("Orvel")));
    UpdateTest::writeFile(m_dir.filePath("version.txt"), "1.1\n");
}

QString tst_DevApp::run(const QString& folder, const QStringList& arguments, int* exitCode)
{
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ORVEL_APP_EXIT_AFTER_MS", "0");
    app.setProcessEnvironment(environment);
    app.start(folder + "/Orvel", arguments);
    if (!app.waitForFinished(60000))
        app.kill();
    *exitCode = app.exitStatus() == QProcess::NormalExit ? app.exitCode() : -1;
    return QString::fromUtf8(app.readAllStandardOutput());
}

void tst_DevApp::statusLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QJsonObject claims{{"instanceId", "X"}, {"userId", 482913}, {"email", "ann@example.com"}, {"exp", 2e9}};
    const QString sealed = sealForCommandLine(jwt(claims));
    QVERIFY(sealed.endsWith('=') || sealed.size() % 4 == 0);
    QTest::newRow("sealed token") << QStringList{"/token", sealed}
                                  << "Orvel 1.1: signed in as ann@example.com (userId 482913)\n";
    const QString notSignedIn = "Orvel 1.1: not signed in\n";
    QTest::newRow("empty token, as with no stored token") << QStringList{"/token", ""} << notSignedIn;
    QString corrupted = sealed;
    corrupted[40] = corrupted[40] == 'A' ? 'B' : 'A';
    QTest::newRow("corrupted blob") << QStringList{"/token", corrupted} << notSignedIn;
    QTest::newRow("plain token, not sealed")
        << QStringList{"/token", QString::fromLatin1(jwt(claims).toBase64(QByteArray::Base64UrlEncoding))}
        << notSignedIn;
    QJsonObject noEmail = claims;
    noEmail.remove("email");
    QTest::newRow("sealed token without e-mail")
        << QStringList{"/token", sealForCommandLine(jwt(noEmail))} << notSignedIn;
}

void tst_DevApp::statusLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    int exitCode = -1;
    QCOMPARE(run(m_dir.path(), arguments, &exitCode), expected);
    QCOMPARE(exitCode, 0);
}

namespace {
// The manifest OrvelDevService publishes the folder with.
QJsonObject manifestOf(const QString& version, const QString& folder)
{
    QProcess tool;
    tool.start(ORVEL_BIN_DIR "/OrvelDevService", {"--manifest", version + "=" + folder});
    tool.waitForFinished(60000);
    return QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
}

} // namespace

void tst_DevApp::demoBuilds()
{
    const QString out = m_dir.filePath("demo");
    QProcess script;
    script.start("bash", {ORVEL_SOURCE_DIR "/devkit/make-builds", "--bin", ORVEL_BIN_DIR, out});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());

    const UpdateTest::Files first = UpdateTest::readTree(out + "/1.0");
    const UpdateTest::Files second = UpdateTest::readTree(out + "/1.1");
    // 1.1 keeps the program, changes the version and the palette, adds a brush (nested, with a blank).
    QVERIFY(first.contains("Orvel"));
    QCOMPARE(second.value("Orvel"), first.value("Orvel"));
    QVERIFY(second.value("version.txt") != first.value("version.txt"));
    QVERIFY(second.value("Data/palette.json") != first.value("Data/palette.json"));
    QVERIFY(!first.contains("Data/Brushes/flat brush.dat") && second.contains("Data/Brushes/flat brush.dat"));
    // The installation is build 1.0 with the manifest the service itself would publish for it.
    QCOMPARE(UpdateTest::json(UpdateTest::readFile(out + "/installed/liveupdate.json").constData()),
             manifestOf("1.0", out + "/1.0"));
    int exitCode = -1;
    QCOMPARE(run(out + "/installed", {"/token", ""}, &exitCode), QString("Orvel 1.0: not signed in\n"));
}

QTEST_GUILESS_MAIN(tst_DevApp)
#include "tst_DevApp.moc"
