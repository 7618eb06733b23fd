// The stand-in design application, started the way the launcher starts it: "Orvel /token TEXT", or "Orvel /token"
// with TEXT in ORVEL_TOKEN. (The demo builds are checked by the end-to-end test, which updates one to the next.)
#include <QTemporaryDir>
#include <QtTest>

#include "CryptoUtil.h"
#include "SealingKey.h"
#include "TestToken.h"
#include "UpdateTestFiles.h"

using OrvelTest::makeTestToken;

class tst_DevApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusLine_data();
    void statusLine();

private:
    QTemporaryDir m_dir;
};

void tst_DevApp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::copy(ORVEL_BIN_DIR "/Orvel", m_dir.filePath("Orvel")));
    UpdateTest::writeFile(m_dir.filePath("version.txt"), "1.1\n");
}

void tst_DevApp::statusLine_data()
{
    QTest::addColumn<QByteArray>("token"); // handed over as Base64url with the padding kept
    QTest::addColumn<bool>("sealed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("inEnvironment"); // "/token" alone, the text in ORVEL_TOKEN (the launcher on Linux)

    const QByteArray token = makeTestToken("{\"instanceId\":\"X\",\"userId\":482913,\"email\":\"ann@example.com\"}");
    const QString notSignedIn = "Orvel 1.1: not signed in\n";
    const QString signedIn = "Orvel 1.1: signed in as ann@example.com (userId 482913)\n";
    QTest::newRow("sealed token") << token << true << signedIn << false;
    QTest::newRow("sealed token in ORVEL_TOKEN") << token << true << signedIn << true;
    QTest::newRow("empty token, as with no stored token") << QByteArray() << false << notSignedIn << false;
    QTest::newRow("plain token, not sealed") << token << false << notSignedIn << false;
    QTest::newRow("sealed token without e-mail")
        << makeTestToken("{\"userId\":482913}") << true << notSignedIn << false;
}

void tst_DevApp::statusLine()
{
    QFETCH(QByteArray, token);
    QFETCH(bool, sealed);
    QFETCH(QString, expected);
    QFETCH(bool, inEnvironment);

    const QByteArray blob = sealed ? Verdant::CryptoUtil().encrypt(token, SealingKey) : token;
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVEL_APP_EXIT_AFTER_MS", "0");
    const QString text = blob.toBase64(QByteArray::Base64UrlEncoding);
    if (inEnvironment)
        environment.insert("ORVEL_TOKEN", text);
    app.setProcessEnvironment(environment);
    app.start(m_dir.filePath("Orvel"), inEnvironment ? QStringList{"/token"} : QStringList{"/token", text});
    QVERIFY(app.waitForFinished(60000));
    QVERIFY(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0);
    QCOMPARE(QString::fromUtf8(app.readAllStandardOutput()), expected);
}

QTEST_GUILESS_MAIN(tst_DevApp)
#include "tst_DevApp.moc"
