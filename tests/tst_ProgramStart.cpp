#include <QtTest>

#include "AppSettings.h"
#include "Platform.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "UpdateTestFiles.h"

namespace {
// A stand-in program: writes its argument count and arguments, one per line, to its own path + ".args", and
// ORVEL_TOKEN (or "unset") to its path + ".env".
void writeProgram(const QString& path, const QByteArray& exit, int mode = 0700)
{
    const QByteArray record = "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.args\"\n"
                              "printf '%s' \"${ORVEL_TOKEN-unset}\" > \"$0.env\"\n";
    UpdateTest::writeFile(path, record + exit + "\n", mode);
}

QStringList recordedArguments(const QString& program)
{
    const QByteArray text = UpdateTest::readFile(program + ".args");
    return text == "<missing>" ? QStringList() : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
}

struct PlayCase
{
    int mode; // of the application's file; 0: missing
    LauncherError error;
    QByteArray environment = "<missing>"; // ORVEL_TOKEN as the program saw it
    QStringList arguments{};
    QVariant jwt{}; // stored; invalid: none
};
} // namespace

Q_DECLARE_METATYPE(PlayCase)

class tst_ProgramStart : public QObject
{
    Q_OBJECT

private slots:
    void play_data()
    {
        QTest::addColumn<PlayCase>("c");
        // The token stays off the command line, which every local user can read.
        QTest::newRow("missing") << PlayCase{0, AppNotFound};
        QTest::newRow("cannot start") << PlayCase{0600, AppStartFailed};
        QTest::newRow("no JWT: empty token") << PlayCase{0700, NoError, "", {"1", "/token"}};
        QTest::newRow("url-safe alphabet, padding kept")
            << PlayCase{0700, NoError, "-_8=", {"1", "/token"}, QByteArray("\xfb\xff", 2)};
    }

    void play()
    {
        QFETCH(PlayCase, c);
        OrvelTest::TempSettingsHome home;
        qputenv("ORVEL_TOKEN", "from the launcher's own environment");
        if (c.jwt.isValid())
            writeAppSetting("JWT", c.jwt);
        QTemporaryDir install;
        const QString program = install.filePath(Platform::executableName("Orvel"));
        if (c.mode)
            writeProgram(program, "exit 0", c.mode);

        QCOMPARE(ProgramStart::play(install.path()), c.error);
        QTRY_COMPARE(recordedArguments(program), c.arguments);
        QTRY_COMPARE(UpdateTest::readFile(program + ".env"), c.environment);
    }

    void runCopyManager_data()
    {
        QTest::addColumn<QByteArray>("exit");    // null: no program (never started, as after a declined elevation)
        QTest::addColumn<QStringList>("logged"); // warnings, the copy manager's standard error first

        // An installing run (exit 0) is checked end to end, with the real copy manager.
        QTest::newRow("exit 1: partly installed, its reasons logged")
            << QByteArray("echo 'cannot replace a/b' >&2; printf 'last line' >&2; exit 1")
            << QStringList{"cannot replace a/b", "last line", "Copy manager exited with code 1"};
        QTest::newRow("program missing") << QByteArray() << QStringList{"Copy manager not started"};
    }

    void runCopyManager()
    {
        QFETCH(QByteArray, exit);
        QFETCH(QStringList, logged);
        // Blanks in every path: each path must still arrive as one argument.
        QTemporaryDir dir;
        const QString programDir = dir.filePath("launcher folder");
        const QString program = programDir + '/' + Platform::executableName("OrvelFileCopyManager");
        const QString source = dir.filePath("temp dir/OrvelDownload/App");
        const QString target = dir.filePath("Program Files/Orvel/App");
        if (!exit.isNull())
            writeProgram(program, "sleep 0.2; " + exit);

        // Waited for in a local event loop while a timer goes on firing.
        for (const QString& line : logged)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(line));
        QTimer ticker;
        QSignalSpy ticks(&ticker, &QTimer::timeout);
        ticker.start(20);
        QVERIFY(!ProgramStart::runCopyManager(source, target, programDir));
        QVERIFY2(exit.isNull() || ticks.count() >= 3, qPrintable(QString::number(ticks.count())));
        QCOMPARE(recordedArguments(program), (exit.isNull() ? QStringList() : QStringList{"2", source, target}));
    }
};

QTEST_GUILESS_MAIN(tst_ProgramStart)
#include "tst_ProgramStart.moc"
