#include <QtTest>

#include "LauncherError.h"

class tst_LauncherError : public QObject
{
    Q_OBJECT

private slots:
    void message_data();
    void message();
    void firstRecordedErrorWins();
};

void tst_LauncherError::message_data()
{
    QTest::addColumn<qint32>("code");
    QTest::addColumn<QString>("text");

    const QString version = "Failed to check Orvel version.";
    const QString update = "Failed to update Orvel.";
    const QString play = "Failed to play Orvel.";
    const QString signIn = "Failed to Sign in.";
    const QString unknown = "Unknown Error.";
    QTest::newRow("1 VersionCheckFailed") << qint32(VersionCheckFailed) << version;
    QTest::newRow("2 ServerManifestNotFound") << qint32(ServerManifestNotFound) << version;
    QTest::newRow("3 InvalidServerManifest") << qint32(InvalidServerManifest) << version;
    QTest::newRow("4 NetworkUnstable (one tab)")
        << qint32(NetworkUnstable)
        << QString("The network is unstable.\tPlease check your internet connection and try again.");
    QTest::newRow("5 LauncherVersionCheckFailed")
        << qint32(LauncherVersionCheckFailed) << QString("Failed to check Launcher version.");
    QTest::newRow("6 DownloadDirFailed") << qint32(DownloadDirFailed) << update;
    QTest::newRow("7 DownloadFailed") << qint32(DownloadFailed) << update;
    QTest::newRow("8 CopyFilesFailed") << qint32(CopyFilesFailed) << update;
    QTest::newRow("9 AppNotFound") << qint32(AppNotFound) << play;
    QTest::newRow("10 AppStartFailed") << qint32(AppStartFailed) << play;
    QTest::newRow("11 NoResponse") << qint32(NoResponse) << update;
    QTest::newRow("12 SslError") << qint32(SslError) << unknown;
    QTest::newRow("13 SignInTimeout") << qint32(SignInTimeout) << signIn;
    QTest::newRow("14 SignInFailed") << qint32(SignInFailed) << signIn;
    QTest::newRow("15 outside the table") << qint32(15) << unknown;
    QTest::newRow("-1 outside the table") << qint32(-1) << unknown;
}

void tst_LauncherError::message()
{
    QFETCH(qint32, code);
    QFETCH(QString, text);
    QCOMPARE(launcherErrorMessage(code), text);
}

void tst_LauncherError::firstRecordedErrorWins()
{
    LauncherError recorded = NoError;
    recordError(recorded, NoResponse);
    recordError(recorded, DownloadFailed);
    QCOMPARE(recorded, NoResponse);
    QCOMPARE(sizeof(LauncherError), sizeof(qint32));
}

QTEST_GUILESS_MAIN(tst_LauncherError)
#include "tst_LauncherError.moc"
