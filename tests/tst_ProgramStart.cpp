#include <QtTest>

#include "AppSettings.h"
#include "ElevatedRun.h"
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
    QTest::ignoreMessage(QtWarningMsg, qPrintable(message));
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
    QTest::addColumn<QStringList>("logged"); // warnings, the copy manager's standard error first

    QTest::newRow("exit 0: installed") << QByteArray("exit 0") << true << QStringList();
    QTest::newRow("exit 1: partly installed, its reasons logged")
        << QByteArray("echo 'cannot replace a/b' >&2; printf 'last line' >&2; exit 1") << false
        << QStringList{"cannot replace a/b", "last line", "Copy manager exited with code 1"};
    QTest::newRow("exit -1: arguments refused")
        << QByteArray("exit 255") << false << QStringList{"Copy manager exited with code 255"};
    QTest::newRow("program missing") << QByteArray() << false << QStringList{"Copy manager not started"};
}

void tst_ProgramStart::copyManagerExitCode()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, success);
    QFETCH(QStringList, logged);
    QTemporaryDir dir;
    if (!script.isEmpty())
        writeScript(dir.filePath(Platform::executableName("OrvelFileCopyManager")), "sleep 0.2; " + script);

    // Waiting, then without waiting while a timer goes on firing: the same answer and the same log lines.
    for (const bool wait : {true, false}) {
        for (const QString& line : logged)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(line));
        if (wait) {
            QCOMPARE(ProgramStart::startCopyManager(dir.filePath("src"), dir.filePath("dst"), dir.path()), success);
            continue;
        }
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(20);
        std::unique_ptr<ElevatedRun> run(
            ProgramStart::startCopyManagerAsync(dir.filePath("src"), dir.filePath("dst"), nullptr, dir.path()));
        QSignalSpy finished(run.get(), &ElevatedRun::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(ProgramStart::copyManagerSucceeded(finished.at(0).at(0).value<Platform::ElevatedResult>()), success);
        QVERIFY2(script.isEmpty() || ticks >= 3, qPrintable(QString::number(ticks)));
    }
}

QTEST_GUILESS_MAIN(tst_ProgramStart)
#include "tst_ProgramStart.moc"
