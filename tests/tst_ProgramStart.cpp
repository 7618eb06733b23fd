#include <QtTest>

#include "AppSettings.h"
#include "Platform.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;

namespace {
void writeScript(const QString& path, const QByteArray& body, int mode = 0700)
{
    UpdateTest::writeFile(path, "#!/bin/sh\n" + body + "\n", mode);
}

// A stand-in program that writes its argument count and arguments, one per line, beside itself.
const QByteArray recordArguments = R"(out="$(dirname "$0")/arguments.txt"
printf '%s\n' "$#" > "$out.tmp"
for a in "$@"; do printf '%s\n' "$a" >> "$out.tmp"; done
mv "$out.tmp" "$out")";

QStringList recordedArguments(const QString& folder)
{
    QFile file(folder + "/arguments.txt");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    lines.removeLast();
    return lines;
}

} // namespace

class tst_ProgramStart : public QObject
{
    Q_OBJECT

private slots:
    void playFails_data();
    void playFails();
    void playArguments_data();
    void playArguments();

    void copyManagerArguments();
    void copyManagerExitCode_data();
    void copyManagerExitCode();
};

void tst_ProgramStart::playFails_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("error");

    QTest::newRow("program missing") << false << "Orvel.exe file does not exist." << int(AppNotFound);
    // Not executable, for root too.
    QTest::newRow("program cannot start") << true << "Failed to run Orvel." << int(AppStartFailed);
}

void tst_ProgramStart::playFails()
{
    QFETCH(bool, present);
    QFETCH(QString, message);
    QFETCH(int, error);
    TempSettingsHome home;
    QTemporaryDir install;
    if (present)
        writeScript(install.filePath(Platform::executableName("Orvel")), "exit 0", 0600);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    QCOMPARE(int(ProgramStart::play(install.path())), error);
}

void tst_ProgramStart::playArguments_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QString>("token");

    QTest::newRow("no JWT setting: empty token") << false << QByteArray() << QString();
    QTest::newRow("url-safe alphabet, padding kept") << true << QByteArray("\xfb\xff", 2) << "-_8=";
}

void tst_ProgramStart::playArguments()
{
    QFETCH(bool, stored);
    QFETCH(QByteArray, blob);
    QFETCH(QString, token);
    TempSettingsHome home;
    if (stored)
        writeAppSetting("JWT", blob);
    QTemporaryDir install;
    writeScript(install.filePath(Platform::executableName("Orvel")), recordArguments);

    QTest::ignoreMessage(QtDebugMsg, "Orvel execution success.");
    QCOMPARE(ProgramStart::play(install.path()), NoError);
    QTRY_COMPARE(recordedArguments(install.path()), (QStringList{"2", "/token", token}));
}

void tst_ProgramStart::copyManagerArguments()
{
    QTemporaryDir dir;
    const QString programDir = dir.filePath("launcher folder");
    writeScript(programDir + "/" + Platform::executableName("OrvelFileCopyManager"), recordArguments);
    const QString source = dir.filePath("temp dir/OrvelDownload/App");
    const QString target = dir.filePath("Program Files/Orvel/App");

    QVERIFY(ProgramStart::startCopyManager(source, target, programDir));
    QCOMPARE(recordedArguments(programDir), (QStringList{"2", source, target}));
}

void tst_ProgramStart::copyManagerExitCode_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("success");

    QTest::newRow("exit 0: installed") << QByteArray("exit 0") << true;
    QTest::newRow("exit 1: partly installed") << QByteArray("exit 1") << false;
    QTest::newRow("exit -1: arguments refused") << QByteArray("exit 255") << false;
    QTest::newRow("program missing") << QByteArray() << false;
}

void tst_ProgramStart::copyManagerExitCode()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, success);
    QTemporaryDir dir;
    if (!script.isEmpty())
        writeScript(dir.filePath(Platform::executableName("OrvelFileCopyManager")), script);
    if (!success && !script.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Copy manager exited with code"));
    QCOMPARE(ProgramStart::startCopyManager(dir.filePath("src"), dir.filePath("dst"), dir.path()), success);
}

QTEST_GUILESS_MAIN(tst_ProgramStart)
#include "tst_ProgramStart.moc"
