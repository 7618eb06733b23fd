#include <memory>

#include <QtTest>

#include <unistd.h>

#include "DownloadBatch.h"
#include "Platform.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "TestHttpsServer.h"
#include "UpdateInstaller.h"
#include "Unprivileged.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;

using namespace UpdateTest;

namespace {

// The manifest the update service publishes for a build (hash: SHA-256 as lower-case hex).
QJsonObject manifestOf(const QString& version, const Files& files)
{
    QJsonArray list;
    qint64 total = 0;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QByteArray hash = QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex();
        list.append(QJsonObject{{"path", it.key()}, {"size", it.value().size()}, {"hash", QString(hash)}});
        total += it.value().size();
    }
    return {{"version", version}, {"totalFileSize", total}, {"fileList", list}};
}

} // namespace

class tst_UpdateInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fullUpdateMatchesPublishedBuild();
    void noChangedFilesInstallsManifestOnly();
    void failedDownloadInstallsNothing_data();
    void failedDownloadInstallsNothing();
    void partialCopyIsAFailure();
    void refusedElevation();

private:
    // Publishes `files` as build 2.0 and installs `installed` as build 1.0 (with its own local manifest).
    void setUpBuilds(const Files& published, const Files& installed);
    bool apply(const UpdateInstaller::CopyStep& copy = {});
    QString installPath() const { return install->path() + "/App"; }

    std::unique_ptr<TempSettingsHome> home;
    QByteArray savedRuntimeDir;
    std::unique_ptr<TestHttpsServer> server;
    std::unique_ptr<QTemporaryDir> install;
    QJsonObject localManifest;
    QJsonObject serverManifest;
    LauncherError launcherError = NoError;
    QStringList errorDetails;
    std::unique_ptr<DownloadBatch> batch;
    int copyRuns = 0;
    QList<qint64> totals;
};

void tst_UpdateInstaller::init()
{
    home.reset(new TempSettingsHome);
    QVERIFY(home->isValid());
    // The private temporary folder then lives in the test's own TMPDIR.
    savedRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    QVERIFY(UpdateInstaller::downloadRoot().startsWith(home->tempPath()));

    server.reset(new TestHttpsServer);
    QVERIFY(server->start());
    install.reset(new QTemporaryDir);
    launcherError = NoError;
    errorDetails.clear();
    batch.reset(new DownloadBatch(launcherError, errorDetails));
    copyRuns = 0;
    totals.clear();
}

void tst_UpdateInstaller::cleanup()
{
    batch.reset();
    server.reset();
    install.reset();
    home.reset();
    if (!savedRuntimeDir.isEmpty())
        qputenv("XDG_RUNTIME_DIR", savedRuntimeDir);
}

void tst_UpdateInstaller::setUpBuilds(const Files& published, const Files& installed)
{
    serverManifest = manifestOf("2.0", published);
    localManifest = manifestOf("1.0", installed);
    writeTree(installPath(), installed);
    writeFile(installPath() + "/liveupdate.json", QJsonDocument(localManifest).toJson());

    server->setHandler("/orvel/patch/download", [served = published](const TestRequest& request) {
        if (request.query().queryItemValue("version") != "2.0")
            return TestReply::text(404, "unknown version");
        const QString file = request.query().queryItemValue("file", QUrl::FullyDecoded);
        const auto it = served.find(file.mid(1));
        return it == served.end() ? TestReply::text(404, "Not Found") : TestReply::text(200, it.value());
    });
}

bool tst_UpdateInstaller::apply(const UpdateInstaller::CopyStep& copy)
{
    const UpdateInstaller::CopyStep realCopy = [](const QString& from, const QString& to) {
        return ProgramStart::startCopyManager(from, to, ORVEL_BIN_DIR);
    };
    const UpdateInstaller::CopyStep chosen = copy ? copy : realCopy;
    UpdateInstaller installer(*batch, launcherError, [this, chosen](const QString& from, const QString& to) {
        ++copyRuns;
        return chosen(from, to);
    });
    connect(&installer, &UpdateInstaller::totalBytes, this, [this](qint64 total) { totals.append(total); });
    const Manifest::LocalHashes hashes = Manifest::indexLocalHashes(Manifest::loadLocalManifest(installPath()));
    return installer.applyUpdate({localManifest, serverManifest, hashes, installPath(), server->urlText()});
}

void tst_UpdateInstaller::fullUpdateMatchesPublishedBuild()
{
    Files build;
    for (int i = 0; i < 30; ++i)
        build.insert(QStringLiteral("data/set %1/file%2.bin").arg(i % 4).arg(i), pattern(100 + i * 3001, i));
    build.insert("Orvel", pattern(50000, 99));
    Files old = build;
    old["Orvel"] = pattern(40000, 98);               // changed content and size
    old["data/set 1/file1.bin"] = pattern(3101, 97); // changed content, same size
    old.remove("data/set 2/file2.bin");              // new in this build
    old.insert("extra/kept.txt", "not part of the update");
    setUpBuilds(build, old);
    // Leftovers of an earlier run are removed first, never installed.
    writeFile(UpdateInstaller::downloadAppDir() + "/stale.txt", "from an earlier run");
    writeFile(UpdateInstaller::downloadRoot() + "/other/file", "x");

    QTest::ignoreMessage(QtDebugMsg, "Success for auto-update.");
    QVERIFY(apply());

    QCOMPARE(launcherError, NoError);
    Files expected = build;
    expected.insert("extra/kept.txt", "not part of the update");
    expected.insert("liveupdate.json", QJsonDocument(serverManifest).toJson(QJsonDocument::Indented));
    QCOMPARE(readTree(installPath()), expected);
    // Only what differed was fetched, and its bytes were announced first.
    QCOMPARE(server->requestCount("/orvel/patch/download"), 3);
    QCOMPARE(totals, QList<qint64>{50000 + 3101 + 100 + 2 * 3001});
    QVERIFY(!QFileInfo::exists(UpdateInstaller::downloadRoot()));
}

void tst_UpdateInstaller::noChangedFilesInstallsManifestOnly()
{
    const Files build{{"a.txt", "same"}, {"b/c.txt", "also same"}};
    setUpBuilds(build, build);
    // The copy manager sees only the manifest in the tree.
    Files tree;
    QVERIFY(apply([&tree](const QString& from, const QString& to) {
        tree = readTree(from);
        return ProgramStart::startCopyManager(from, to, ORVEL_BIN_DIR);
    }));
    QCOMPARE(tree.keys(), QStringList{"liveupdate.json"});
    QCOMPARE(server->requestCount(), 0);
    QVERIFY(totals.isEmpty());
    QCOMPARE(readTree(installPath()).value("liveupdate.json"),
             QJsonDocument(serverManifest).toJson(QJsonDocument::Indented));
}

void tst_UpdateInstaller::failedDownloadInstallsNothing_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("error");

    // The service announces one byte more than it serves for b.txt.
    QTest::newRow("size mismatch") << "downloaded file has the wrong size: b.txt expected 6 bytes, got 5"
                                   << int(DownloadFailed);
    QTest::newRow("cancelled by the user") << QString() << int(DownloadFailed);
    // The first error recorded is the one reported.
    QTest::newRow("no response") << QString() << int(NoResponse);
    QTest::newRow("unsafe path") << QString() << int(InvalidServerManifest);
    // A private temporary folder that others could write is refused, and with it the download.
    QTest::newRow("download folder unavailable") << "Failed to create download directory." << int(DownloadDirFailed);
}

void tst_UpdateInstaller::failedDownloadInstallsNothing()
{
    QFETCH(QString, message);
    QFETCH(int, error);
    const QByteArray tag = QTest::currentDataTag();
    setUpBuilds({{"a.txt", "new a"}, {"b.txt", "new b"}}, {{"a.txt", "old"}, {"b.txt", "old"}});
    QJsonArray list = serverManifest["fileList"].toArray();
    if (tag == "size mismatch") {
        QJsonObject entry = list.at(1).toObject();
        entry["size"] = 6;
        list[1] = entry;
    } else if (tag == "unsafe path") {
        list.append(QJsonObject{{"path", "../../outside.txt"}, {"size", 3}, {"hash", "x"}});
    } else if (tag == "cancelled by the user") {
        TestReply stall = TestReply::text(200, pattern(300000, 1));
        stall.stallAfterBytes = 20000;
        server->setRoute("/orvel/patch/download", stall);
        QTimer::singleShot(400, batch.get(), [this] { batch->cancelByUser(); });
    } else if (tag == "no response") {
        server->setRoute("/orvel/patch/download", TestReply::never());
        batch->setResponseInterval(200);
    } else {
        QVERIFY(QFile::setPermissions(Platform::privateTempFolder(), QFile::Permissions(0x7777)));
    }
    serverManifest["fileList"] = list;
    const Files before = readTree(installPath());
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));

    QVERIFY(!apply());
    QCOMPARE(int(launcherError), error);
    QCOMPARE(copyRuns, 0);
    QCOMPARE(readTree(installPath()), before);
    if (error == InvalidServerManifest || error == DownloadDirFailed)
        QCOMPARE(server->requestCount(), 0);
    QVERIFY(!QFileInfo::exists(UpdateInstaller::downloadRoot()));
}

void tst_UpdateInstaller::partialCopyIsAFailure()
{
    // A folder stands where the update puts a file: the copy manager installs the rest and exits 1.
    setUpBuilds({{"a.txt", "new a"}, {"blocked", "file"}}, {{"a.txt", "old"}});
    QVERIFY(QDir().mkpath(installPath() + "/blocked/inside"));
    const QByteArray oldManifest = readTree(installPath()).value("liveupdate.json");

    QTest::ignoreMessage(QtDebugMsg, "Failed to copy download files.");
    QVERIFY(!apply());
    QCOMPARE(launcherError, CopyFilesFailed);
    QCOMPARE(copyRuns, 1);
    // The old manifest stays, so the next start downloads again.
    QCOMPARE(readTree(installPath()).value("liveupdate.json"), oldManifest);
    QVERIFY(!QFileInfo::exists(UpdateInstaller::downloadRoot()));
}

void tst_UpdateInstaller::refusedElevation()
{
    setUpBuilds({{"a.txt", "new"}}, {{"a.txt", "old"}});
    // An elevation command that leaves a mark and reports the refused prompt, where "nobody" can run it (the
    // test's own temporary folders are private to root).
    QTemporaryDir tools(QStringLiteral("/tmp/tst_UpdateInstaller-elevate-XXXXXX"));
    QVERIFY(QFile::setPermissions(tools.path(), QFile::Permissions(0x7777)));
    QVERIFY(QFile::setPermissions(install->path(), QFile::Permissions(0x7755)));
    const QString elevate = tools.filePath("elevate");
    writeFile(elevate, "#!/bin/sh\ntouch \"$0.used\"\nexit 126\n", 0755);
    qputenv("ORVEL_ELEVATE_COMMAND", QFile::encodeName(elevate));
    const QByteArray before = readTree(installPath()).value("a.txt");

    // The installation folder belongs to root; the unprivileged launcher must ask for elevation.
    const bool ok = apply([](const QString& from, const QString& to) {
        return OrvelTest::asUnprivilegedUser(
                   [&] { return ProgramStart::startCopyManager(from, to, ORVEL_BIN_DIR) ? 0 : 1; }) == 0;
    });
    qunsetenv("ORVEL_ELEVATE_COMMAND");
    if (::geteuid() != 0)
        QSKIP("needs root to run the copy step as another user");
    QVERIFY(!ok);
    QVERIFY(QFileInfo::exists(elevate + ".used"));
    QCOMPARE(launcherError, CopyFilesFailed);
    QCOMPARE(readTree(installPath()).value("a.txt"), before);
    QVERIFY(!QFileInfo::exists(UpdateInstaller::downloadRoot()));
}

QTEST_GUILESS_MAIN(tst_UpdateInstaller)
#include "tst_UpdateInstaller.moc"
