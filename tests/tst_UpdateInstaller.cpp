#include <functional>
#include <memory>

#include <QtTest>

#include <unistd.h>

#include "DevServiceProcess.h"
#include "DownloadBatch.h"
#include "HttpsFetch.h"
#include "Platform.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "TestHttpsServer.h"
#include "UpdateInstaller.h"
#include "Unprivileged.h"
#include "UpdateTestFiles.h"
#include "VersionCheck.h"

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
    void outcomesAgainstDevService_data();
    void outcomesAgainstDevService();
    void partialCopyIsAFailure();
    void refusedElevation();

private:
    // Publishes `files` as build 2.0 and installs `installed` as build 1.0 (with its own local manifest).
    void setUpBuilds(const Files& published, const Files& installed);
    // Applies serverManifest, downloading from serviceUrl (default: the test server).
    bool apply(const UpdateInstaller::CopyStep& copy = {}, const QString& serviceUrl = QString());
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
    std::function<void()> beforeDownload; // run when the total is announced, in the fresh download tree
    QTemporaryDir serviceState;           // the dev service's certificates, made once for every row
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
    beforeDownload = nullptr;
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

bool tst_UpdateInstaller::apply(const UpdateInstaller::CopyStep& copy, const QString& serviceUrl)
{
    const UpdateInstaller::CopyStep realCopy = [](const QString& from, const QString& to) {
        return ProgramStart::startCopyManager(from, to, ORVEL_BIN_DIR);
    };
    const UpdateInstaller::CopyStep chosen = copy ? copy : realCopy;
    UpdateInstaller installer(*batch, launcherError, [this, chosen](const QString& from, const QString& to) {
        ++copyRuns;
        return chosen(from, to);
    });
    connect(&installer, &UpdateInstaller::totalBytes, this, [this](qint64 total) {
        totals.append(total);
        if (beforeDownload)
            beforeDownload();
    });
    const Manifest::LocalHashes hashes = Manifest::indexLocalHashes(Manifest::loadLocalManifest(installPath()));
    QString error;
    const std::optional<ServerManifest> manifest = ServerManifest::parse(serverManifest, &error);
    if (!manifest)
        qWarning().noquote() << "server manifest refused:" << error;
    return manifest && installer.applyUpdate({localManifest, *manifest, hashes, installPath(),
                                              serviceUrl.isEmpty() ? server->urlText() : serviceUrl});
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
    } else if (tag == "cancelled by the user") {
        TestReply stall = TestReply::text(200, pattern(300000, 1));
        stall.stallAfterBytes = 3; // fewer than the manifest says, so the files stay in transfer
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
    if (error == DownloadDirFailed)
        QCOMPARE(server->requestCount(), 0);
    QVERIFY(!QFileInfo::exists(UpdateInstaller::downloadRoot()));
}

void tst_UpdateInstaller::outcomesAgainstDevService_data()
{
    QTest::addColumn<Files>("build"); // published by the dev service
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("error");

    const Files plain{{"Orvel", pattern(30000, 1)}, {"data/a.bin", pattern(5000, 2)}};
    const QString success = "^Success for auto-update.$";
    QTest::newRow("names needing encoding") << Files{{"Orvel", pattern(30000, 1)},
                                                     {"data/a b#c&d?e%41f+g=h.txt", pattern(7000, 3)},
                                                     {QString::fromUtf8("Ünïcödé/日本 語.dat"), pattern(100, 4)}}
                                            << success << 0;
    QTest::newRow("dot-named segments") << Files{{"Orvel", pattern(30000, 1)},
                                                 {".config/x", "settings"},
                                                 {"data/.keep", ""}}
                                        << success << 0;
    // The next rows change the manifest on its way to the launcher; the files still come from the dev service.
    QTest::newRow("fileList is an object")
        << plain << "^invalid server liveupdate.json file.$" << int(InvalidServerManifest);
    QTest::newRow("body longer than its size")
        << plain << "^downloaded file has the wrong size: Orvel expected 29999 bytes, got \\d+$" << int(DownloadFailed);
    QTest::newRow("size 2^31 + 1") << plain
                                   << "^downloaded file has the wrong size: Orvel expected 2147483649 bytes, got 30000$"
                                   << int(DownloadFailed);
    QTest::newRow("disk full while saving the manifest")
        << plain << "^Failed to save liveupdate.json File.$" << int(DownloadFailed);
}

void tst_UpdateInstaller::outcomesAgainstDevService()
{
    QFETCH(Files, build);
    QFETCH(QString, message);
    QFETCH(int, error);
    const QByteArray tag = QTest::currentDataTag();
    const QString version = "2.0+b #1&x%41"; // needs encoding as well
    writeTree(install->filePath("build"), build);
    OrvelTest::DevServiceProcess service;
    QVERIFY2(service.start(serviceState.path(), {"--publish", version + "=" + install->filePath("build")}),
             qPrintable(service.failure()));
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(service.caCertificatesPath());
    QSslConfiguration::setDefaultConfiguration(ssl);

    QString checkUrl = service.updateUrl();
    const qint64 orvelSize = tag == "body longer than its size" ? 29999 : tag == "size 2^31 + 1" ? (1LL << 31) + 1 : 0;
    if (orvelSize || tag == "fileList is an object") {
        const QUrl patch(service.updateUrl() + "orvel/patch?version=0.0.0.0&os=255&output=json");
        QJsonObject manifest =
            QJsonDocument::fromJson(httpsFetch(service.sslConfiguration(), "GET", patch).body).object();
        QJsonArray list = manifest["fileList"].toArray();
        QJsonObject orvel = list.first().toObject();
        QCOMPARE(orvel["path"].toString(), QString("Orvel"));
        orvel["size"] = orvelSize;
        list[0] = orvel;
        manifest["fileList"] = orvelSize ? QJsonValue(list) : QJsonObject{{"Orvel", orvel}};
        manifest["totalFileSize"] = orvelSize + 5000;
        server->setRoute("/orvel/patch", TestReply::json(QJsonDocument(manifest).toJson()));
        checkUrl = server->urlText();
    }
    if (tag == "disk full while saving the manifest")
        beforeDownload = [] { QFile::link("/dev/full", UpdateInstaller::downloadAppDir() + "/liveupdate.json"); };
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));

    // As the launcher does: the check first (nothing installed yet), the update only when it found no fault.
    VersionCheck check(checkUrl, launcherError);
    check.checkAppVersion(QJsonObject());
    serverManifest = check.serverManifest().document;
    const bool ok = launcherError == NoError && apply({}, service.updateUrl());

    QCOMPARE(int(launcherError), error);
    QCOMPARE(ok, error == NoError);
    QCOMPARE(copyRuns, ok ? 1 : 0);
    if (ok) {
        Files expected = build;
        expected.insert("liveupdate.json", QJsonDocument(serverManifest).toJson(QJsonDocument::Indented));
        QCOMPARE(readTree(installPath()), expected);
    }
    if (orvelSize)
        QCOMPARE(totals, QList<qint64>{orvelSize + 5000});
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
