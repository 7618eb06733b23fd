// Platform layer on Linux: process list, private temporary folder, start with the rights to write a folder, where the
// launcher's own files are.

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "InstallLayout.h"
#include "Platform.h"
#include "Unprivileged.h"
#include "UpdateTestFiles.h"

using Platform::ElevatedOutcome;
using Platform::ElevatedResult;

namespace {

constexpr uid_t kNobody = 65534;

struct stat statOf(const QString& path)
{
    struct stat info = {};
    info.st_uid = static_cast<uid_t>(-1);
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

int modeOf(const QString& path)
{
    return static_cast<int>(statOf(path).st_mode & 07777);
}

void writeScript(const QString& path, const QByteArray& body)
{
    UpdateTest::writeFile(path, "#!/bin/sh\n" + body + "\n", 0755);
}

// Sets or clears an environment variable until the returned guard ends.
auto scopedEnv(const char* name, const QByteArray& value)
{
    const bool had = qEnvironmentVariableIsSet(name);
    const QByteArray old = qgetenv(name);
    value.isNull() ? qunsetenv(name) : qputenv(name, value);
    return qScopeGuard([=] { had ? qputenv(name, old) : qunsetenv(name); });
}

// Starts a copy of `sleep` under a name no other process on the machine has.
bool startSleeper(QProcess& child, const QString& program)
{
    if (!QFile::copy(QStandardPaths::findExecutable("sleep"), program))
        return false;
    child.start(program, {"60"});
    return child.waitForStarted();
}

QString uniqueName(const QString& prefix)
{
    return prefix + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

} // namespace

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Process list
    void seesChildByExactNameOnly();
    void seesChildWhoseProgramWasReplaced();
    void neverCountsItself();

    // Private temporary folder
    void tempFolderCreatedPrivate_data();
    void tempFolderCreatedPrivate();
    void tempFolderRefusesUnsafeFolder_data();
    void tempFolderRefusesUnsafeFolder();

    // Start with the rights to write a folder
    void otherFoldersGoThroughElevation_data();
    void otherFoldersGoThroughElevation();

    // The launcher's files, from its own folder
    void installLayout_data();
    void installLayout();

private:
    QTemporaryDir m_dir;
};

void tst_Platform::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Reachable by "nobody" for the tests that drop to it.
    QVERIFY(QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                    QFileDevice::ExeOther));
}

void tst_Platform::seesChildByExactNameOnly()
{
    const QString name = uniqueName("orvel-sleeper-");
    const QString program = m_dir.filePath(name);
    QVERIFY(!Platform::isProcessRunning(name));
    QProcess child;
    QVERIFY(startSleeper(child, program));
    const bool seen = Platform::isProcessRunning(name);
    const bool prefixSeen = Platform::isProcessRunning(name.chopped(1));
    const bool pathSeen = Platform::isProcessRunning(program);
    child.kill();
    QVERIFY(child.waitForFinished());

    QVERIFY(seen);
    QVERIFY(!prefixSeen);
    QVERIFY(!pathSeen);
    QVERIFY(!Platform::isProcessRunning(name));
}

void tst_Platform::seesChildWhoseProgramWasReplaced()
{
    // An update replaces the program file while it runs; the running process must still count.
    const QString name = uniqueName("orvel-replaced-");
    const QString program = m_dir.filePath(name);
    QProcess child;
    QVERIFY(startSleeper(child, program));
    QVERIFY(QFile::remove(program));

    const bool seen = Platform::isProcessRunning(name);
    child.kill();
    QVERIFY(child.waitForFinished());
    QVERIFY(seen);
}

void tst_Platform::neverCountsItself()
{
    const QString ownName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QVERIFY(!Platform::isProcessRunning(ownName));
    QVERIFY(Platform::isProcessRunning(QString())); // an empty name counts as running
}

void tst_Platform::tempFolderCreatedPrivate_data()
{
    QTest::addColumn<bool>("useRuntimeDir");
    QTest::addColumn<int>("umask");
    QTest::addColumn<QString>("expectedBelow"); // "runtime" or "tmp"

    QTest::newRow("under XDG_RUNTIME_DIR, permissive umask") << true << 0 << "runtime";
    QTest::newRow("no XDG_RUNTIME_DIR, strict umask") << false << 0777 << "tmp";
}

void tst_Platform::tempFolderCreatedPrivate()
{
    QFETCH(bool, useRuntimeDir);
    QFETCH(int, umask);
    QFETCH(QString, expectedBelow);

    QTemporaryDir runtime;
    QTemporaryDir tmp;
    const auto runtimeEnv =
        scopedEnv("XDG_RUNTIME_DIR", useRuntimeDir ? QFile::encodeName(runtime.path()) : QByteArray());
    const auto tmpEnv = scopedEnv("TMPDIR", QFile::encodeName(tmp.path()));
    const mode_t oldMask = ::umask(static_cast<mode_t>(umask));
    const QString folder = Platform::privateTempFolder();
    const QString again = Platform::privateTempFolder();
    ::umask(oldMask);

    const QString expected = expectedBelow == QLatin1String("runtime")
                                 ? runtime.filePath("orvel")
                                 : tmp.filePath(QString("orvel-%1").arg(::geteuid()));
    QCOMPARE(folder, expected);
    QCOMPARE(again, folder);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QString::number(modeOf(folder), 8), "700");
    QCOMPARE(statOf(folder).st_uid, ::geteuid());
}

void tst_Platform::tempFolderRefusesUnsafeFolder_data()
{
    QTest::addColumn<QString>("prepare");

    QTest::newRow("owned by someone else") << "other owner";
    QTest::newRow("mode 0777") << "0777";
    QTest::newRow("symbolic link to a private folder") << "link";
}

void tst_Platform::tempFolderRefusesUnsafeFolder()
{
    QFETCH(QString, prepare);

    QTemporaryDir runtime;
    const auto runtimeEnv = scopedEnv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString folder = runtime.filePath("orvel");
    const QByteArray path = QFile::encodeName(folder);

    if (prepare == QLatin1String("link")) {
        QVERIFY(QDir().mkdir(runtime.filePath("elsewhere")));
        QCOMPARE(::chmod(QFile::encodeName(runtime.filePath("elsewhere")).constData(), 0700), 0);
        QVERIFY(QFile::link(runtime.filePath("elsewhere"), folder));
    } else if (prepare == QLatin1String("other owner")) {
        if (::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(path.constData(), 0700), 0);
        QCOMPARE(::chown(path.constData(), kNobody, kNobody), 0);
    } else {
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(path.constData(), static_cast<mode_t>(prepare.toInt(nullptr, 8))), 0);
    }
    const int modeBefore = modeOf(folder);

    QCOMPARE(Platform::privateTempFolder(), QString());
    QCOMPARE(modeOf(folder), modeBefore); // refused, not "repaired"
}

void tst_Platform::otherFoldersGoThroughElevation_data()
{
    QTest::addColumn<QString>("elevator"); // script body; empty: a command that does not exist
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("prompt refused (126)") << "exit 126" << int(ElevatedOutcome::NotStarted) << -1;
    QTest::newRow("granted: program runs with its arguments")
        << "[ \"$2\" = \"a folder/App\" ] && [ \"$3\" = \"b\" ] && exec \"$@\"; exit 9" << int(ElevatedOutcome::Ended)
        << 4;
}

void tst_Platform::otherFoldersGoThroughElevation()
{
    QFETCH(QString, elevator);
    QFETCH(int, outcome);
    QFETCH(int, exitCode);

    // A folder of root's (or, when not root, one we made read-only) that the unprivileged caller cannot write.
    const QString base = m_dir.filePath(QUuid::createUuid().toString(QUuid::Id128));
    const QString locked = base + "/locked";
    QVERIFY(QDir().mkpath(locked));
    QCOMPARE(::chmod(QFile::encodeName(base).constData(), 0755), 0);
    const QString program = base + "/program";
    writeScript(program, "exit 4");
    const QString elevatorPath = base + "/elevate";
    if (!elevator.isNull())
        writeScript(elevatorPath, elevator.toUtf8());
    QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const auto elevateEnv = scopedEnv("ORVEL_ELEVATE_COMMAND", QFile::encodeName(elevatorPath));

    // The child's exit status carries outcome and exit code.
    const int packed = OrvelTest::asUnprivilegedUser([&] {
        const ElevatedResult result = Platform::runElevatedAndWait(program, {"a folder/App", "b"}, locked + "/App");
        return int(result.outcome) * 16 + result.exitCode + 1;
    });
    QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0755), 0);
    QVERIFY2(packed >= 0 && packed < 255, qPrintable(QString::number(packed)));
    QCOMPARE(packed / 16, outcome);
    QCOMPARE(packed % 16 - 1, exitCode);
}

void tst_Platform::installLayout_data()
{
    QTest::addColumn<QStringList>("files");   // under a fresh root; the program's folder is bin/
    QTest::addColumn<QString>("copyManager"); // found paths, relative to the root
    QTest::addColumn<QString>("fonts");
    QTest::addColumn<QString>("applicationFolder"); // "<data>": $XDG_DATA_HOME/orvel

    QTest::newRow("build tree: beside the program")
        << QStringList{"bin/OrvelFileCopyManager", "bin/Font/a.ttf"} << "bin/OrvelFileCopyManager"
        << "bin/Font"
        << "bin";
    QTest::newRow("installed prefix") << QStringList{"libexec/orvel/OrvelFileCopyManager", "share/orvel/Font/a.ttf"}
                                      << "libexec/orvel/OrvelFileCopyManager"
                                      << "share/orvel/Font"
                                      << "<data>";
    QTest::newRow("installed prefix, copy manager beside the program wins")
        << QStringList{"bin/OrvelFileCopyManager", "libexec/orvel/OrvelFileCopyManager", "share/orvel/Font/a.ttf"}
        << "bin/OrvelFileCopyManager"
        << "share/orvel/Font"
        << "<data>";
    QTest::newRow("nothing there: beside the program") << QStringList{} << "bin/OrvelFileCopyManager"
                                                       << "bin/Font"
                                                       << "bin";
}

void tst_Platform::installLayout()
{
    QFETCH(QStringList, files);
    QFETCH(QString, copyManager);
    QFETCH(QString, fonts);
    QFETCH(QString, applicationFolder);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("bin"));
    for (const QString& file : files)
        UpdateTest::writeFile(root.filePath(file), "x");
    const auto dataHome = scopedEnv("XDG_DATA_HOME", root.filePath("data").toUtf8());

    // The program's folder as a running program sees it: not cleaned, so ".." in the paths must go.
    const QString programDir = root.filePath("bin/../bin");
    QCOMPARE(InstallLayout::copyManagerProgram(programDir), root.filePath(copyManager));
    QCOMPARE(InstallLayout::fontFolder(programDir), root.filePath(fonts));
    QCOMPARE(InstallLayout::defaultApplicationFolder(programDir),
             applicationFolder == "<data>" ? root.filePath("data/orvel") : root.filePath(applicationFolder));
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_Platform.moc"
