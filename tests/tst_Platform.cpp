// Platform layer on Linux: process list, private temporary folder, start with the rights to write a folder, where the
// launcher's own files are.
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "InstallLayout.h"
#include "Platform.h"
#include "Unprivileged.h"
#include "UpdateTestFiles.h"

namespace {

struct stat statOf(const QString& path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

// Sets or clears an environment variable until the returned guard ends.
auto scopedEnv(const char* name, const QByteArray& value)
{
    const bool had = qEnvironmentVariableIsSet(name);
    const QByteArray old = qgetenv(name);
    value.isNull() ? qunsetenv(name) : qputenv(name, value);
    return qScopeGuard([=] { had ? qputenv(name, old) : qunsetenv(name); });
}

} // namespace

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    void processList();
    void privateTempFolder_data();
    void privateTempFolder();
    void otherFoldersGoThroughElevation_data();
    void otherFoldersGoThroughElevation();

    // The launcher's files, from its own folder
    void installLayout_data();
    void installLayout();

private:
    QTemporaryDir m_dir;
};

void tst_Platform::processList()
{
    // A copy of `sleep` under a name no other process has, whose program file is then removed as an update
    // replaces a running program: the process must still count, by its exact name only.
    const QString name = "orvel-sleeper-" + QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString program = m_dir.filePath(name);
    QVERIFY(QFile::copy(QStandardPaths::findExecutable("sleep"), program));
    QProcess child;
    child.start(program, {"60"});
    QVERIFY(child.waitForStarted() && QFile::remove(program));
    const QList<bool> seen = {Platform::isProcessRunning(name), Platform::isProcessRunning(name.chopped(1)),
                              Platform::isProcessRunning(program)};
    child.kill();
    QVERIFY(child.waitForFinished());

    QCOMPARE(seen, QList<bool>({true, false, false}));
    QVERIFY(!Platform::isProcessRunning(name));
    QVERIFY(!Platform::isProcessRunning(QFileInfo(QCoreApplication::applicationFilePath()).fileName())); // not itself
    QVERIFY(Platform::isProcessRunning(QString())); // an empty name counts as running
}

void tst_Platform::privateTempFolder_data()
{
    QTest::addColumn<bool>("useRuntimeDir");
    QTest::addColumn<int>("umask");
    QTest::addColumn<QString>("existing"); // shell commands run in XDG_RUNTIME_DIR first
    QTest::addColumn<QString>("expected"); // "runtime", "tmp" or empty: refused

    QTest::newRow("under XDG_RUNTIME_DIR, permissive umask") << true << 0 << QString() << "runtime";
    QTest::newRow("no XDG_RUNTIME_DIR, strict umask") << false << 0777 << QString() << "tmp";
    QTest::newRow("existing folder owned by someone else")
        << true << 022 << "mkdir -m 700 orvel && chown 65534:65534 orvel" << QString();
    QTest::newRow("existing folder of mode 0777") << true << 022 << "mkdir -m 777 orvel" << QString();
    QTest::newRow("symbolic link to a private folder")
        << true << 022 << "mkdir -m 700 elsewhere && ln -s elsewhere orvel" << QString();
}

void tst_Platform::privateTempFolder()
{
    QFETCH(bool, useRuntimeDir);
    QFETCH(int, umask);
    QFETCH(QString, existing);
    QFETCH(QString, expected);

    QTemporaryDir runtime;
    QTemporaryDir tmp;
    const auto runtimeEnv = scopedEnv("XDG_RUNTIME_DIR", useRuntimeDir ? QFile::encodeName(runtime.path()) : nullptr);
    const auto tmpEnv = scopedEnv("TMPDIR", QFile::encodeName(tmp.path()));
    const QString folder = runtime.filePath("orvel");
    if (existing.contains("chown") && ::geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" || exit 1; " + existing, runtime.path()}), 0);
    const mode_t modeBefore = statOf(folder).st_mode;

    const mode_t oldMask = ::umask(static_cast<mode_t>(umask));
    const QString made = Platform::privateTempFolder();
    const QString again = Platform::privateTempFolder();
    ::umask(oldMask);

    if (expected.isEmpty()) {
        QCOMPARE(made, QString());
        QCOMPARE(statOf(folder).st_mode, modeBefore); // refused, not "repaired"
        return;
    }
    QCOMPARE(made, expected == "runtime" ? folder : tmp.filePath(QString("orvel-%1").arg(::geteuid())));
    QCOMPARE(again, made);
    QCOMPARE(statOf(made).st_mode, mode_t(S_IFDIR | 0700));
    QCOMPARE(statOf(made).st_uid, ::geteuid());
}

void tst_Platform::otherFoldersGoThroughElevation_data()
{
    QTest::addColumn<QByteArray>("elevator"); // the elevation command's script
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("prompt refused (126)") << QByteArray("exit 126") << int(Platform::ElevatedOutcome::NotStarted) << -1;
    QTest::newRow("granted: program runs with its arguments")
        << QByteArray("[ \"$2\" = \"a folder/App\" ] && [ \"$3\" = \"b\" ] && exec \"$@\"; exit 9")
        << int(Platform::ElevatedOutcome::Ended) << 4;
}

void tst_Platform::otherFoldersGoThroughElevation()
{
    QFETCH(QByteArray, elevator);
    QFETCH(int, outcome);
    QFETCH(int, exitCode);

    // A folder the caller cannot write: root's, seen by "nobody" (or, when not root, one we made read-only).
    const QString base = m_dir.filePath(QUuid::createUuid().toString(QUuid::Id128));
    UpdateTest::writeFile(base + "/program", "#!/bin/sh\nexit 4\n", 0755);
    UpdateTest::writeFile(base + "/elevate", "#!/bin/sh\n" + elevator + "\n", 0755);
    QCOMPARE(QProcess::execute("sh", {"-c", "chmod 755 \"$0\" \"$0/..\" && mkdir -m 555 \"$0/locked\"", base}), 0);
    const auto elevateEnv = scopedEnv("ORVEL_ELEVATE_COMMAND", QFile::encodeName(base + "/elevate"));

    // The child's exit status carries outcome and exit code.
    const int packed = OrvelTest::asUnprivilegedUser([&] {
        const auto result =
            Platform::runElevatedAndWait(base + "/program", {"a folder/App", "b"}, base + "/locked/App");
        return int(result.outcome) * 16 + result.exitCode + 1;
    });
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
