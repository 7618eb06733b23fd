// The stand-in design application, started as "Orvel /token TEXT", refuses what is not a signed-in token. (A sealed
// token that it reads, the launcher's own start with the text in ORVEL_TOKEN, and the demo builds are checked by the
// end-to-end test, which updates one to the next and signs in.)
#include <QTemporaryDir>
#include <QtTest>

#include "CryptoUtil.h"
#include "SealingKey.h"
#include "TestHttpsServer.h"
#include "UpdateTestFiles.h"

using OrvelTest::makeTestToken;

class tst_DevApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::copy(ORVEL_BIN_DIR "/Orvel", m_dir.filePath("Orvel")));
        UpdateTest::writeFile(m_dir.filePath("version.txt"), "1.1\n");
    }

    void statusLine_data()
    {
        QTest::addColumn<QByteArray>("token"); // handed over as Base64url with the padding kept
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QString>("expected");

        const QByteArray token =
            makeTestToken("{\"instanceId\":\"X\",\"userId\":482913,\"email\":\"ann@example.com\"}");
        const QString notSignedIn = "Orvel 1.1: not signed in\n";
        QTest::newRow("plain token, not sealed") << token << false << notSignedIn;
        QTest::newRow("sealed token without e-mail") << makeTestToken("{\"userId\":482913}") << true << notSignedIn;
    }

    void statusLine()
    {
        QFETCH(QByteArray, token);
        QFETCH(bool, sealed);
        QFETCH(QString, expected);

        const QByteArray blob = sealed ? Verdant::CryptoUtil().encrypt(token, SealingKey) : token;
        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ORVEL_APP_EXIT_AFTER_MS", "0");
        app.setProcessEnvironment(environment);
        app.start(m_dir.filePath("Orvel"), {"/token", blob.toBase64(QByteArray::Base64UrlEncoding)});
        QVERIFY(app.waitForFinished(60000));
        QVERIFY(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(app.readAllStandardOutput()), expected);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_DevApp)
#include "tst_DevApp.moc"
