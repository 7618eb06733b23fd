// Runs the real OrvelFileCopyManager program on temporary trees and checks what lands on disk.
#include <QtTest>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CopyTree.h"
#include "UpdateTestFiles.h"

using namespace UpdateTest;

namespace {

const QString kProgram = QStringLiteral(ORVEL_BIN_DIR "/OrvelFileCopyManager");

// Every file, hidden ones included, so that stray copies and temporary files show up too; empty folders as "name/".
Files snapshot(const QString& root)
{
    return readTree(root, QDir::AllEntries | QDir::System);
}

const QByteArray kElf = QByteArray::fromHex("7f454c46020101") + QByteArray(200, '\0');

} // namespace

class tst_CopyManager : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY2(QFileInfo::exists(kProgram), qPrintable(kProgram));
        m_dir.reset(new QTemporaryDir);
        // Blanks in both folders: each path must stay one argument.
        m_source = m_dir->filePath("download tree/App");
        m_destination = m_dir->filePath("install dir/App");
        QVERIFY(QDir().mkpath(m_source));
    }

    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@S", "@D": the source and destination folders
        QTest::addColumn<Files>("source");
        QTest::addColumn<Files>("installed"); // the destination before the run; empty: there is none
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<Files>("expected"); // the destination after the run

        // Unusable arguments: exit(-1) as the system reports it, and nothing is touched.
        const Files next{{"file.txt", "new"}}, current{{"file.txt", "old"}};
        QTest::newRow("one argument") << QStringList{"@S"} << next << current << 255 << current;
        QTest::newRow("empty source") << QStringList{QString(), "@D"} << next << current << 255 << current;
        QTest::newRow("source is a file") << QStringList{"@S/file.txt", "@D"} << next << current << 255 << current;
        QTest::newRow("empty destination") << QStringList{"@S", QString()} << next << current << 255 << current;

        // The destination and every folder below are created; reserved names are left out.
        const Files tree{
            {"visible.txt", "v"}, {".config/inside.txt", "h"}, {"sub/.keep", "k"}, {"a/b/c/d/ünïcode name.txt", "u"}};
        Files withReserved = tree;
        withReserved.insert("sub/.orvel-copy.x1", "reserved");
        withReserved.insert(".orvel-manifest", "reserved");
        QTest::newRow("nested and dot-named folders")
            << QStringList{"@S", "@D"} << withReserved << Files{} << 0 << tree;
        Files inside = tree;
        inside.insert("old.txt", "kept");
        QTest::newRow("destination inside source")
            << QStringList{"@S", "@S/a/installed"} << tree << Files{{"old.txt", "kept"}} << 0 << inside;

        // One target cannot be replaced: it stays as it is, the others are installed, the old manifest is kept.
        const auto blocked = [](const char* name, const QString& sourceFile, const QString& blocker) {
            const Files installed{{blocker, "blocking"}, {"liveupdate.json", "{\"old\": true}"}};
            Files expected = installed;
            expected.insert("other.txt", "new other");
            QTest::newRow(name) << QStringList{"@S", "@D"}
                                << Files{{sourceFile, "new"}, {"other.txt", "new other"}, {"liveupdate.json", "{}"}}
                                << installed << 1 << expected;
        };
        blocked("folder in place of a file", "program.bin", "program.bin/keep.txt");
        blocked("file in place of a folder", "plugins/plugin.so", "plugins");
        blocked("read-only file", "readonly.txt", "readonly.txt");
    }

    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Files, source);
        QFETCH(Files, installed);
        QFETCH(int, exitCode);
        QFETCH(Files, expected);
        for (QString& argument : arguments)
            argument.replace("@S", m_source).replace("@D", m_destination);
        const QString destination = arguments.value(1).isEmpty() ? m_destination : arguments[1];
        writeTree(m_source, source);
        writeTree(destination, installed);
        if (QByteArray(QTest::currentDataTag()) == "read-only file") {
            if (::geteuid() == 0)
                QSKIP("root may write read-only files; the other rows cover an unreplaceable target for root");
            writeFile(m_destination + "/readonly.txt", "blocking", 0444);
        }
        const Files sourceBefore = snapshot(m_source);

        QCOMPARE(QProcess::execute(kProgram, arguments), exitCode);
        QCOMPARE(snapshot(destination), expected); // no leftovers either
        if (!destination.startsWith(m_source))
            QCOMPARE(snapshot(m_source), sourceBefore);
    }

    void manifestInstalledLast()
    {
        // Many top-level files, so that directory order alone would rarely put the manifest last. Every replacement is
        // a rename into the folder: record their order.
        for (int i = 0; i < 40; ++i)
            writeFile(m_source + QString("/file%1.txt").arg(i), QByteArray::number(i));
        writeFile(m_source + "/sub/liveupdate.json", "not the manifest");
        writeFile(m_source + "/liveupdate.json", "{\"new\": true}");
        writeFile(m_destination + "/liveupdate.json", "{\"old\": true}");

        const int notifier = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(inotify_add_watch(notifier, QFile::encodeName(m_destination).constData(), IN_MOVED_TO) >= 0);
        QCOMPARE(QProcess::execute(kProgram, {m_source, m_destination}), 0);
        QStringList order;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t length; (length = ::read(notifier, buffer, sizeof(buffer))) > 0;) {
            for (char* p = buffer; p < buffer + length;
                 p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                order << QFile::decodeName(reinterpret_cast<inotify_event*>(p)->name);
        }
        ::close(notifier);
        QCOMPARE(order.size(), 41);
        QCOMPARE(order.last(), "liveupdate.json");
        QCOMPARE(readFile(m_destination + "/liveupdate.json"), QByteArray("{\"new\": true}"));
        QCOMPARE(readFile(m_destination + "/sub/liveupdate.json"), QByteArray("not the manifest"));
    }

    void interruptedRunLeavesNothingBehind()
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
        const Files sourceBefore = snapshot(m_source);

        // Killed once a temporary file of this run exists.
        QProcess helper;
        helper.start(kProgram, {m_source, m_destination});
        const QDeadlineTimer deadline(10000);
        const auto temporaries = [&] {
            QDirIterator it(m_destination, {".orvel-copy.*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            return it.hasNext() && !it.next().endsWith("AbC123");
        };
        while (!temporaries() && helper.state() != QProcess::NotRunning && !deadline.hasExpired())
            QThread::usleep(200);
        helper.kill();
        QVERIFY(helper.waitForFinished(10000));

        QCOMPARE(QProcess::execute(kProgram, {m_source, m_destination}), 0);
        Files expected = sourceBefore;
        expected.insert("level 1/user data/settings.ini", "not part of the update");
        expected.insert(".orvel-copy.folder/", QByteArray());
        QVERIFY(snapshot(m_destination) == expected); // QCOMPARE would print megabytes
        QCOMPARE(snapshot(m_source), sourceBefore);
    }

    void untrustedSource_data()
    {
        QTest::addColumn<QString>("change"); // what the download folder's owner does
        QTest::addColumn<bool>("sign");      // with the publisher's key and the signed manifest the launcher left
        QTest::addColumn<bool>("move"); // renamed into place rather than copied (a run with the caller's own rights)
        QTest::addColumn<QStringList>("installed"); // what the destination holds afterwards

        const auto row = [](const char* name, const char* change, const QStringList& installed, bool sign,
                            bool move = false) { QTest::newRow(name) << change << sign << move << installed; };
        const QStringList all{"a.txt", "keep.txt", "liveupdate.json", "sub/b.bin"};
        const QStringList others{"a.txt", "keep.txt", "sub/b.bin"};
        // Planted entries are not followed or installed; the manifest waits for a complete run.
        row("link to a root-only file", "secret link", others, false);
        row("link to /dev/zero", "zero link", others, false);
        row("FIFO in place of a file", "fifo", others, false);
        row("FIFO swapped in after listing", "late fifo", {"a.txt", "keep.txt", "sub/"}, false);
        row("link planted in the destination", "destination link", {"a.txt", "keep.txt"}, false);
        row("group-writable source", "group-writable", {"keep.txt"}, false);
        row("hard link to a root-only file", "hard link", {"keep.txt"}, false);
        // Only what the signed manifest describes.
        row("as signed", "", all, true);
        row("as signed, moved", "", all, true, true);
        row("file replaced after download, same size", "swap", {"keep.txt", "sub/b.bin"}, true);
        row("file replaced after download, moved", "swap", {"keep.txt", "sub/b.bin"}, true, true);
        row("file the manifest does not list", "extra", others, true);
        row("liveupdate.json not the signed one", "manifest", others, true);
        row("signature over another manifest", "signature", {"keep.txt"}, true);
        row("no signature", "unsigned", {"keep.txt"}, true);
    }

    void untrustedSource()
    {
        QFETCH(QString, change);
        QFETCH(bool, sign);
        QFETCH(bool, move);
        QFETCH(QStringList, installed);
        const bool root = ::geteuid() == 0;
        if (change == "hard link" && !root)
            QSKIP("only root can plant another user's file here");
        const QString outside = m_dir->filePath("outside");
        writeFile(outside + "/secret", "root only", 0600);
        writeFile(m_destination + "/keep.txt", "kept");
        const Files files{{"a.txt", "alpha"}, {"sub/b.bin", pattern(5000, 7)}};
        const QByteArray body = QJsonDocument(manifestOf(files)).toJson();
        writeTree(m_source, files);
        writeFile(m_source + "/liveupdate.json", body);
        CopyOptions options;
        options.move = move;
        if (sign) {
            // The key and the signature made with the openssl tool.
            const QString key = m_dir->filePath("key.pem");
            writeFile(m_dir->filePath("signed"), change == "signature" ? body + " " : body);
            openssl({"genpkey", "-algorithm", "ed25519", "-out", key});
            options.manifestPublicKey =
                openssl({"pkey", "-in", key, "-pubout", "-outform", "DER"}).right(32).toBase64();
            writeFile(m_source + "/.orvel-manifest.json", body);
            if (change != "unsigned")
                writeFile(m_source + "/.orvel-manifest.sig",
                          openssl({"pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", m_dir->filePath("signed")})
                              .toBase64());
        }
        const QByteArray late = QFile::encodeName(m_source + "/sub/b.bin");
        if (change == "swap")
            writeFile(m_source + "/a.txt", "omega");
        else if (change == "extra")
            writeFile(m_source + "/sub/extra.so", "unlisted");
        else if (change == "manifest")
            writeFile(m_source + "/liveupdate.json", "{\"version\": \"9.9\", \"fileList\": []}");
        else if (change == "secret link")
            QVERIFY(QFile::link(outside + "/secret", m_source + "/sub/secret"));
        else if (change == "zero link")
            QVERIFY(QFile::link("/dev/zero", m_source + "/zero"));
        else if (change == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(m_source + "/pipe").constData(), 0644), 0);
        else if (change == "destination link")
            QVERIFY(QFile::link(outside, m_destination + "/sub"));
        else if (change == "group-writable")
            QCOMPARE(::chmod(QFile::encodeName(m_source).constData(), 0775), 0);
        // Unsigned rows run with more rights than their caller: as root, the tree belongs to nobody and the run works
        // for nobody, as under pkexec; otherwise the run is told it works for this user, under the same rules.
        if (!sign && root)
            QCOMPARE(QProcess::execute("chown", {"-hR", "65534:65534", m_source}), 0);
        if (!sign)
            qputenv("PKEXEC_UID", QByteArray::number(root ? 65534 : ::getuid()));
        if (change == "hard link")
            QCOMPARE(::link(QFile::encodeName(outside + "/secret").constData(), late + ".secret"), 0);
        options.afterListing = [&] {
            if (change == "late fifo" && (::unlink(late) != 0 || ::mkfifo(late, 0644) != 0))
                qFatal("cannot swap in the FIFO");
        };
        const Files outsideBefore = snapshot(outside);
        const ino_t movedInode = statOf(late).st_ino;

        bool installedAll = true;
        QScopedPointer<QThread> run(
            QThread::create([&] { installedAll = copyTree(m_source, m_destination, options); }));
        run->start();
        if (!run->wait(20000))
            qFatal("the copy hangs");
        qunsetenv("PKEXEC_UID");
        QCOMPARE(installedAll, change.isEmpty());
        QCOMPARE(snapshot(outside), outsideBefore);
        QCOMPARE(snapshot(m_destination).keys(), installed);
        QCOMPARE(readFile(m_destination + "/a.txt"), installed.contains("a.txt") ? "alpha" : "<missing>");
        QCOMPARE(statOf(m_destination + "/sub/b.bin").st_ino == movedInode, move);
        QCOMPARE(QFileInfo::exists(late), !move);
        if (change == "destination link")
            QVERIFY(QFileInfo(m_destination + "/sub").isSymLink());
    }

    void permissionBits_data()
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

    void permissionBits()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, sourceMode);
        QFETCH(int, installedMode);
        QFETCH(int, expectedMode);

        const QString target = m_destination + "/bin/program";
        writeFile(m_source + "/bin/program", content, sourceMode);
        if (installedMode >= 0)
            writeFile(target, "previous version", installedMode);

        QCOMPARE(QProcess::execute(kProgram, {m_source, m_destination}), 0);
        QCOMPARE(readFile(target), content);
        QCOMPARE(QString::number(statOf(target).st_mode & 07777, 8), QString::number(expectedMode, 8));
    }

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_source;
    QString m_destination;
};

QTEST_GUILESS_MAIN(tst_CopyManager)
#include "tst_CopyManager.moc"
