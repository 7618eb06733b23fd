#include <QtTest>

#include "AppSettings.h"
#include "Platform.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "UpdateTestFiles.h"

namespace {
// A stand-in program: writes its argument count and arguments, one per line, to its own path + ".args".
void writeProgram(const QString& path, const QByteArray& exit, int mode = 0700)
{
    UpdateTest::writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.args\"\n" + exit + "\n", mode);
}

QStringList recordedArguments(const QString& program)
{
    const QByteArray text = UpdateTest::readFile(program + ".args");
    return text == "<missing>" ? QStringList() : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
}
} // namespace

class tst_ProgramStart : public QObject
{
    Q_OBJECT

private slots:
    void play_data();
    void play();
    void startCopyManager_data();
    void startCopyManager();
};

void tst_ProgramStart::play_data()
{
    QTest::addColumn<int>("mode"); // of the application's file; 0: missing
    QTest::addColumn<QVariant>("jwt");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("missing") << 0 << QVariant() << int(AppNotFound) << QStringList();
    QTest::newRow("cannot start") << 0600 << QVariant() << int(AppStartFailed) << QStringList();
    QTest::newRow("no JWT: empty token") << 0700 << QVariant() << int(NoError) << QStringList{"2", "/token"};
    QTest::newRow("url-safe alphabet, padding kept")
        << 0700 << QVariant(QByteArray("\xfb\xff", 2)) << int(NoError) << QStringList{"2", "/token", "-_8="};
}

void tst_ProgramStart::play()
{
    QFETCH(int, mode);
    QFETCH(QVariant, jwt);
    QFETCH(int, error);
    QFETCH(QStringList, arguments);
    OrvelTest::TempSettingsHome home;
    if (jwt.isValid())
        writeAppSetting("JWT", jwt);
    QTemporaryDir install;
    const QString program = install.filePath(Platform::executableName("Orvel"));
    if (mode)
        writeProgram(program, "exit 0", mode);

    QCOMPARE(int(ProgramStart::play(install.path())), error);
    QTRY_COMPARE(recordedArguments(program), arguments);
}

void tst_ProgramStart::startCopyManager_data()
{
    QTest::addColumn<QByteArray>("exit"); // null: no program (never started, as after a declined elevation)
    QTest::addColumn<bool>("success");

    QTest::newRow("exit 0: installed") << QByteArray("exit 0") << true;
    QTest::newRow("exit 1: partly installed") << QByteArray("exit 1") << false;
    QTest::newRow("exit -1: arguments refused") << QByteArray("exit 255") << false;
    QTest::newRow("not started") << QByteArray() << false;
}

void tst_ProgramStart::startCopyManager()
{
    QFETCH(QByteArray, exit);
    QFETCH(bool, success);
    // Blanks in every path: each path must still arrive as one argument.
    QTemporaryDir dir;
    const QString program = dir.filePath("launcher folder/") + Platform::executableName("OrvelFileCopyManager");
    const QString source = dir.filePath("temp dir/OrvelDownload/App");
    const QString target = dir.filePath("Program Files/Orvel/App");
    if (!exit.isNull())
        writeProgram(program, exit);

    QCOMPARE(ProgramStart::startCopyManager(source, target, dir.filePath("launcher folder")), success);
    QCOMPARE(recordedArguments(program), (exit.isNull() ? QStringList() : QStringList{"2", source, target}));
}

QTEST_GUILESS_MAIN(tst_ProgramStart)
#include "tst_ProgramStart.moc"
