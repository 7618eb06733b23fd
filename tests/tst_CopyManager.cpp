// Runs the real OrvelFileCopyManager program on temporary trees and checks what lands on disk.
#include <QtTest>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CopyTree.h"
#include "UpdateTestFiles.h"

using namespace UpdateTest;

namespace {

// exit(-1) as the system reports it.
constexpr int kArgumentError = 255;
constexpr int kIncomplete = 1;

const QString kProgram = QStringLiteral(ORVEL_BIN_DIR "/OrvelFileCopyManager");

// Relative path -> content; empty folders end in "/".
using Tree = Files;

int modeOf(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// Every file, hidden ones included, so that stray copies and temporary files show up too; empty folders as "name/".
Tree snapshot(const QString& root)
{
    Tree tree;
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (QDirIterator it(root, all, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (!it.fileInfo().isDir())
            tree.insert(relative, readFile(path));
        else if (QDir(path).isEmpty(all))
            tree.insert(relative + '/', QByteArray());
    }
    return tree;
}

// The exit code; -2: could not start, -1: crashed.
int runCopyManager(const QStringList& arguments)
{
    return QProcess::execute(kProgram, arguments);
}

const QByteArray kElf = QByteArray::fromHex("7f454c46020101") + QByteArray(200, '\0');

} // namespace

Q_DECLARE_METATYPE(Tree)

class tst_CopyManager : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Arguments
    void argumentErrors_data();
    void argumentErrors();

    // What is copied
    void installsTree_data();
    void installsTree();

    // Failures and the manifest
    void unreplaceableTargetStaysAndIsReported_data();
    void unreplaceableTargetStaysAndIsReported();
    void manifestInstalledLast();
    void interruptedRunLeavesNothingBehind();

    // A download folder whose owner plants what the run must not follow or install
    void hostileEntries_data();
    void hostileEntries();

    // With the publisher's key: only what the signed manifest describes
    void signedManifest_data();
    void signedManifest();

    // Permission bits
    void permissionBits_data();
    void permissionBits();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_source;
    QString m_destination;
};

void tst_CopyManager::init()
{
    QVERIFY2(QFileInfo::exists(kProgram), qPrintable(kProgram));
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    // Blanks in both folders: each path must stay one argument.
    m_source = m_dir->filePath("download tree/App");
    m_destination = m_dir->filePath("install dir/App");
    QVERIFY(QDir().mkpath(m_source));
}

void tst_CopyManager::argumentErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    // "@S" and "@D" stand for the prepared source and destination folders.
    QTest::newRow("one argument") << QStringList{"@S"};
    QTest::newRow("empty source") << QStringList{QString(), "@D"};
    QTest::newRow("source is a file") << QStringList{"@S/file.txt", "@D"};
    QTest::newRow("empty destination") << QStringList{"@S", QString()};
}

void tst_CopyManager::argumentErrors()
{
    QFETCH(QStringList, arguments);
    writeFile(m_source + "/file.txt", "new");
    writeFile(m_destination + "/file.txt", "old");
    for (QString& argument : arguments)
        argument.replace("@S", m_source).replace("@D", m_destination);
    const Tree before = snapshot(m_dir->path());

    QCOMPARE(runCopyManager(arguments), kArgumentError);
    QCOMPARE(snapshot(m_dir->path()), before);
}

void tst_CopyManager::installsTree_data()
{
    QTest::addColumn<Tree>("source");
    QTest::addColumn<Tree>("installed");      // the destination before the run
    QTest::addColumn<QString>("destination"); // relative to the source folder when not empty
    QTest::addColumn<Tree>("expected");

    // An empty "installed" tree leaves the destination missing: the run must create it and every folder below.
    QTest::newRow("missing destination, top-level files only")
        << Tree{{"top.txt", "1"}, {"Orvel", "2"}} << Tree{} << QString() << Tree{{"top.txt", "1"}, {"Orvel", "2"}};
    QTest::newRow("missing destination, nested and dot-named folders, reserved names left out")
        << Tree{{"visible.txt", "v"},
                {".config/inside.txt", "h"},
                {"sub/.keep", "k"},
                {"sub/.orvel-copy.x1", "reserved"},
                {".orvel-manifest", "reserved"},
                {"a/b/c/d/ünïcode name.txt", "u"}}
        << Tree{} << QString()
        << Tree{{"visible.txt", "v"},
                {".config/inside.txt", "h"},
                {"sub/.keep", "k"},
                {"a/b/c/d/ünïcode name.txt", "u"}};
    QTest::newRow("destination inside source") << Tree{{"file.txt", "f"}, {"a/b/deep.txt", "d"}} << Tree{}
                                               << "a/installed" << Tree{{"file.txt", "f"}, {"a/b/deep.txt", "d"}};
}

void tst_CopyManager::installsTree()
{
    QFETCH(Tree, source);
    QFETCH(Tree, installed);
    QFETCH(QString, destination);
    QFETCH(Tree, expected);
    if (!destination.isEmpty())
        m_destination = m_source + '/' + destination;
    writeTree(m_source, source);
    writeTree(m_destination, installed);
    const Tree sourceBefore = snapshot(m_source);

    QCOMPARE(runCopyManager({m_source, m_destination}), 0);
    QCOMPARE(snapshot(m_destination), expected);
    if (destination.isEmpty())
        QCOMPARE(snapshot(m_source), sourceBefore);
}

void tst_CopyManager::unreplaceableTargetStaysAndIsReported_data()
{
    QTest::addColumn<QString>("sourceFile");
    QTest::addColumn<QString>("blocker"); // what sits in the destination and must stay as it is

    QTest::newRow("folder in place of a file") << QString("program.bin") << "program.bin/keep.txt";
    QTest::newRow("file in place of a folder") << QString("plugins/plugin.so") << "plugins";
    QTest::newRow("read-only file") << QString("readonly.txt") << "readonly.txt";
}

void tst_CopyManager::unreplaceableTargetStaysAndIsReported()
{
    QFETCH(QString, sourceFile);
    QFETCH(QString, blocker);

    const bool readOnlyRow = QByteArray(QTest::currentDataTag()) == "read-only file";
    if (readOnlyRow && ::geteuid() == 0)
        QSKIP("root may write read-only files; the other rows cover an unreplaceable target for root");

    writeFile(m_source + '/' + sourceFile, "new");
    writeFile(m_source + "/other.txt", "new other");
    writeFile(m_source + "/liveupdate.json", "{\"new\": true}");
    writeFile(m_destination + '/' + blocker, "blocking", readOnlyRow ? 0444 : 0644);
    writeFile(m_destination + "/liveupdate.json", "{\"old\": true}");
    const Tree blockerBefore = snapshot(m_destination);

    QCOMPARE(runCopyManager({m_source, m_destination}), kIncomplete);

    Tree expected = blockerBefore;
    expected.insert("other.txt", "new other");   // the others are still installed
    QCOMPARE(snapshot(m_destination), expected); // blocker and old manifest kept, no leftovers
}

void tst_CopyManager::manifestInstalledLast()
{
    // Many top-level files, so that directory order alone would rarely put the manifest last.
    for (int i = 0; i < 40; ++i)
        writeFile(m_source + QString("/file%1.txt").arg(i), QByteArray::number(i));
    writeFile(m_source + "/sub/liveupdate.json", "not the manifest");
    writeFile(m_source + "/liveupdate.json", "{\"new\": true}");
    writeFile(m_destination + "/liveupdate.json", "{\"old\": true}");

    // Every replacement is a rename into the folder; record their order.
    const int notifier = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(notifier >= 0);
    QVERIFY(inotify_add_watch(notifier, QFile::encodeName(m_destination).constData(), IN_MOVED_TO) >= 0);
    const int exitCode = runCopyManager({m_source, m_destination});

    QStringList order;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t length; (length = ::read(notifier, buffer, sizeof(buffer))) > 0;) {
        for (char* p = buffer; p < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len)
                order << QFile::decodeName(event->name);
            p += sizeof(inotify_event) + event->len;
        }
    }
    ::close(notifier);

    QCOMPARE(exitCode, 0);
    QCOMPARE(order.size(), 41);
    QCOMPARE(order.last(), "liveupdate.json");
    QCOMPARE(readFile(m_destination + "/liveupdate.json"), QByteArray("{\"new\": true}"));
    QCOMPARE(readFile(m_destination + "/sub/liveupdate.json"), QByteArray("not the manifest"));
}

void tst_CopyManager::interruptedRunLeavesNothingBehind()
{
    // Sizes around page and buffer boundaries, most files already installed in an older version, a file that is not
    // part of the update (it stays), and a leftover of an earlier killed run.
    const int sizes[] = {0, 4095, 4097, (1 << 20) + 3, 3 * (1 << 20) + 17};
    for (int i = 0; i < 60; ++i) {
        const QString relative = QString("level %1/sub %2/file %3.dat").arg(i % 4).arg(i % 7).arg(i);
        const int size = i < 5 ? sizes[i] : i < 20 ? 4 << 20 : i * 7919 % 200000;
        writeFile(m_source + '/' + relative, pattern(size, i));
        if (i % 3)
            writeFile(m_destination + '/' + relative, pattern(size / 2 + 5, i + 1));
    }
    writeFile(m_source + "/liveupdate.json", "{}");
    writeFile(m_destination + "/level 1/user data/settings.ini", "not part of the update");
    writeFile(m_destination + "/level 2/.orvel-copy.AbC123", "left by an earlier run");
    QVERIFY(QDir().mkpath(m_destination + "/.orvel-copy.folder")); // not a file: not ours to remove
    const Tree sourceBefore = snapshot(m_source);

    // Killed once a temporary file of this run exists.
    QProcess helper;
    helper.start(kProgram, {m_source, m_destination});
    QElapsedTimer waited;
    waited.start();
    const auto temporaries = [&] {
        QDirIterator it(m_destination, {".orvel-copy.*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        return it.hasNext() && !it.next().endsWith("AbC123");
    };
    while (!temporaries() && helper.state() != QProcess::NotRunning && waited.elapsed() < 10000)
        QThread::usleep(200);
    helper.kill();
    QVERIFY(helper.waitForFinished(10000));

    QCOMPARE(runCopyManager({m_source, m_destination}), 0);
    Tree expected = sourceBefore;
    expected.insert("level 1/user data/settings.ini", "not part of the update");
    expected.insert(".orvel-copy.folder/", QByteArray());
    QVERIFY(snapshot(m_destination) == expected); // QCOMPARE would print megabytes
    QCOMPARE(snapshot(m_source), sourceBefore);
}

void tst_CopyManager::hostileEntries_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("refusesAll"); // else everything but the planted entry is installed

    QTest::newRow("link to a root-only file") << "secret link" << false;
    QTest::newRow("link to /dev/zero") << "zero link" << false;
    QTest::newRow("FIFO in place of a file") << "fifo" << false;
    QTest::newRow("FIFO swapped in after listing") << "late fifo" << false;
    QTest::newRow("link planted in the destination") << "destination link" << false;
    QTest::newRow("group-writable source") << "group-writable" << true;
    QTest::newRow("hard link to a root-only file") << "hard link" << true;
}

void tst_CopyManager::hostileEntries()
{
    QFETCH(QString, planted);
    QFETCH(bool, refusesAll);
    // As root, the tree belongs to nobody and the run works for nobody, as under pkexec; otherwise the run is told
    // it works for this user, which puts it under the same rules.
    const bool root = ::geteuid() == 0;
    if (planted == "hard link" && !root)
        QSKIP("only root can plant another user's file here");
    const QString outside = m_dir->filePath("outside");
    writeFile(outside + "/secret", "root only", 0600);
    writeFile(m_source + "/good.txt", "good");
    writeFile(m_source + "/data/late.bin", "listed as a file");
    writeFile(m_destination + "/keep.txt", "kept");
    const QByteArray late = QFile::encodeName(m_source + "/data/late.bin");
    if (planted == "secret link")
        QVERIFY(QFile::link(outside + "/secret", m_source + "/data/secret"));
    else if (planted == "zero link")
        QVERIFY(QFile::link("/dev/zero", m_source + "/zero"));
    else if (planted == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(m_source + "/pipe").constData(), 0644), 0);
    else if (planted == "destination link")
        QVERIFY(QFile::link(outside, m_destination + "/data"));
    else if (planted == "group-writable")
        QCOMPARE(::chmod(QFile::encodeName(m_source).constData(), 0775), 0);
    if (root)
        QCOMPARE(QProcess::execute("chown", {"-hR", "65534:65534", m_source}), 0);
    if (planted == "hard link")
        QCOMPARE(::link(QFile::encodeName(outside + "/secret").constData(), late + ".secret"), 0);
    qputenv("PKEXEC_UID", QByteArray::number(root ? 65534 : ::getuid()));
    const Tree outsideBefore = snapshot(outside);

    bool installedAll = true;
    CopyOptions options;
    options.afterListing = [&] {
        if (planted == "late fifo" && (::unlink(late) != 0 || ::mkfifo(late, 0644) != 0))
            qFatal("cannot swap in the FIFO");
    };
    QScopedPointer<QThread> run(QThread::create([&] { installedAll = copyTree(m_source, m_destination, options); }));
    run->start();
    if (!run->wait(20000))
        qFatal("the copy hangs");
    qunsetenv("PKEXEC_UID");

    QVERIFY(!installedAll);
    QCOMPARE(snapshot(outside), outsideBefore);
    const Tree installed = snapshot(m_destination);
    for (const QByteArray& content : installed)
        QVERIFY(content != "root only");
    QCOMPARE(installed.value("keep.txt"), QByteArray("kept"));
    QCOMPARE(installed.value("good.txt", "<missing>"), refusesAll ? "<missing>" : "good");
    if (planted == "destination link")
        QVERIFY(QFileInfo(m_destination + "/data").isSymLink());
}

void tst_CopyManager::signedManifest_data()
{
    QTest::addColumn<QString>("change"); // what happens to the download folder after the launcher left it
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<bool>("move"); // renamed into place rather than copied (a run with the caller's own rights)

    QTest::newRow("as signed") << QString() << QStringList{"a.txt", "sub/b.bin", "liveupdate.json"} << false;
    QTest::newRow("as signed, moved") << QString() << QStringList{"a.txt", "sub/b.bin", "liveupdate.json"} << true;
    QTest::newRow("file replaced after download, same size") << "swap" << QStringList{"sub/b.bin"} << false;
    QTest::newRow("file replaced after download, moved") << "swap" << QStringList{"sub/b.bin"} << true;
    QTest::newRow("file the manifest does not list") << "extra" << QStringList{"a.txt", "sub/b.bin"} << false;
    QTest::newRow("liveupdate.json not the signed one") << "manifest" << QStringList{"a.txt", "sub/b.bin"} << false;
    QTest::newRow("signature over another manifest") << "signature" << QStringList{} << false;
    QTest::newRow("no signature") << "unsigned" << QStringList{} << false;
}

void tst_CopyManager::signedManifest()
{
    QFETCH(QString, change);
    QFETCH(QStringList, installed);
    QFETCH(bool, move);
    const Tree files{{"a.txt", "alpha"}, {"sub/b.bin", pattern(5000, 7)}};
    QJsonArray list;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString hash = QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex();
        list.append(QJsonObject{{"path", it.key()}, {"size", it.value().size()}, {"hash", hash}});
    }
    const QByteArray body = QJsonDocument(QJsonObject{{"version", "1.1"}, {"fileList", list}}).toJson();
    writeTree(m_source, files);
    writeFile(m_source + "/liveupdate.json", QJsonDocument::fromJson(body).toJson(QJsonDocument::Indented));
    // The publisher's key and signature, made with the openssl tool.
    const QString key = m_dir->filePath("key.pem");
    writeFile(m_dir->filePath("signed"), change == "signature" ? body + " " : body);
    QCOMPARE(QProcess::execute("openssl", {"genpkey", "-algorithm", "ed25519", "-out", key}), 0);
    QProcess openssl;
    openssl.start("openssl", {"pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", m_dir->filePath("signed")});
    QVERIFY(openssl.waitForFinished());
    const QByteArray signature = openssl.readAllStandardOutput().toBase64();
    openssl.start("openssl", {"pkey", "-in", key, "-pubout", "-outform", "DER"});
    QVERIFY(openssl.waitForFinished());
    CopyOptions options;
    options.manifestPublicKey = openssl.readAllStandardOutput().right(32).toBase64();
    writeFile(m_source + "/.orvel-manifest.json", body);
    if (change != "unsigned")
        writeFile(m_source + "/.orvel-manifest.sig", signature);
    if (change == "swap")
        writeFile(m_source + "/a.txt", "omega");
    else if (change == "extra")
        writeFile(m_source + "/sub/extra.so", "unlisted");
    else if (change == "manifest")
        writeFile(m_source + "/liveupdate.json", "{\"version\": \"9.9\", \"fileList\": []}");

    options.move = move;
    const auto inode = [](const QString& path) {
        struct stat info;
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const auto movedInode = inode(m_source + "/sub/b.bin");

    QCOMPARE(copyTree(m_source, m_destination, options), change.isEmpty());
    QCOMPARE(inode(m_destination + "/sub/b.bin") == movedInode, move);
    QCOMPARE(QFileInfo::exists(m_source + "/sub/b.bin"), !move);
    QStringList present = snapshot(m_destination).keys();
    present.sort();
    installed.sort();
    QCOMPARE(present, installed);
    if (installed.contains("a.txt"))
        QCOMPARE(readFile(m_destination + "/a.txt"), QByteArray("alpha"));
}

void tst_CopyManager::permissionBits_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("sourceMode");    // downloads carry no useful bits: never taken over
    QTest::addColumn<int>("installedMode"); // -1: no file there before
    QTest::addColumn<int>("expectedMode");

    QTest::newRow("new program (ELF)") << kElf << 0600 << -1 << 0755;
    QTest::newRow("new script") << QByteArray("#!/bin/sh\necho hi\n") << 0600 << -1 << 0755;
    QTest::newRow("new data file") << QByteArray("plain data") << 0777 << -1 << 0644;
    QTest::newRow("truncated ELF magic") << kElf.left(3) << 0600 << -1 << 0644;
    QTest::newRow("replaced program keeps 0750") << kElf << 0600 << 0750 << 0750;
    QTest::newRow("replaced data file that was executable") << QByteArray("data") << 0644 << 0755 << 0755;
    QTest::newRow("replaced program that was not executable") << kElf << 0755 << 0644 << 0644;
}

void tst_CopyManager::permissionBits()
{
    QFETCH(QByteArray, content);
    QFETCH(int, sourceMode);
    QFETCH(int, installedMode);
    QFETCH(int, expectedMode);

    const QString target = m_destination + "/bin/program";
    writeFile(m_source + "/bin/program", content, sourceMode);
    if (installedMode >= 0)
        writeFile(target, "previous version", installedMode);

    QCOMPARE(runCopyManager({m_source, m_destination}), 0);
    QCOMPARE(readFile(target), content);
    QCOMPARE(QString::number(modeOf(target), 8), QString::number(expectedMode, 8));
}

QTEST_GUILESS_MAIN(tst_CopyManager)
#include "tst_CopyManager.moc"
