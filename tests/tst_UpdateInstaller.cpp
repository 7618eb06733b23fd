#include <optional>

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "DevServiceProcess.h"
#include "DownloadBatch.h"
#include "ProgramStart.h"
#include "TempSettingsHome.h"
#include "UpdateInstaller.h"
#include "UpdateTestFiles.h"
#include "VersionCheck.h"

using namespace OrvelTest;
using namespace UpdateTest;

namespace {
// The manifest the update service publishes for a build; what is left to fetch is taken from its "totalFileSize".
Manifest manifestOf(const QString& version, const Files& files)
{
    QJsonObject document = UpdateTest::manifestOf(files);
    document.insert("version", version);
    document.insert("totalFileSize", 1000);
    QString refusal;
    return *Manifest::parse(document, &refusal);
}

QByteArray savedManifest(const Manifest& manifest)
{
    return QJsonDocument(manifest.document).toJson(QJsonDocument::Indented);
}

enum Setup { Plain, SameBuild, ManifestDiskFull, CacheLink, CacheOfAnotherUser };
} // namespace
Q_DECLARE_METATYPE(Setup)

class tst_UpdateInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The old home goes first: it puts back the variables it found.
        m_home.emplace();
        // Read once, before the first update: every file is checked against the SHA-256 the dev service publishes.
        qputenv("ORVEL_HASH_ALGORITHM", "sha256");
        QVERIFY(UpdateInstaller::cacheRoot().startsWith(qEnvironmentVariable("XDG_CACHE_HOME") + "/"));
        m_install.emplace();
    }

    // What the installer decides from its two steps, in process: what is fetched, what the copy is handed, what
    // failure is reported, and that the build's cache folder is gone after an install and kept otherwise.

    void decisions_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Failure>("download"); // what the download step reports; it writes the files when it succeeds
        QTest::addColumn<bool>("copied");      // what the copy step reports
        QTest::addColumn<Failure>("expected");

        const Failure none;
        const Failure stalled{NoResponse, "a.txt: no data after 10 requests"};
        QTest::newRow("changed files fetched and handed over") << Plain << none << true << none;
        QTest::newRow("no changed file: the manifest alone") << SameBuild << none << true << none;
        QTest::newRow("download failure kept") << Plain << stalled << true << stalled;
        QTest::newRow("copy fails") << Plain << none << false << Failure{CopyFilesFailed, ""};
        QTest::newRow("manifest cannot be saved")
            << ManifestDiskFull << none << true << Failure{DownloadFailed, "liveupdate.json: No space left on device"};
        // A cache folder that is a link or another user's is refused, and with it the download ("%1": the folder).
        QTest::newRow("cache folder a link") << CacheLink << none << true << Failure{DownloadDirFailed, "%1: a link"};
        QTest::newRow("cache folder another user's")
            << CacheOfAnotherUser << none << true << Failure{DownloadDirFailed, "%1: owned by another user"};
    }

    void decisions()
    {
        QFETCH(Setup, setup);
        QFETCH(Failure, download);
        QFETCH(bool, copied);
        QFETCH(Failure, expected);
        const Files published{{"a.txt", "new a"}, {"b/c.txt", "new c"}, {"same.txt", "same"}};
        const Files installed = setup == SameBuild ? published : Files{{"a.txt", "old"}, {"same.txt", "same"}};
        writeTree(installPath(), installed);
        const Manifest server = manifestOf("2.0", published);
        const Manifest local = manifestOf("1.0", installed);
        // Files of an earlier run that this update does not fetch are removed first, never handed over; so is the
        // cache of another build.
        const QString cache = UpdateInstaller::cacheFolder("2.0");
        writeFile(cache + "/stale.txt", "from an earlier run");
        writeFile(UpdateInstaller::cacheFolder("1.5") + "/x", "another build's");
        if (setup == CacheLink)
            QVERIFY(QDir(cache).removeRecursively() && QFile::link(m_install->path(), cache));
        if (setup == CacheOfAnotherUser && ::chown(QFile::encodeName(cache).constData(), 65534, 65534) != 0)
            QSKIP("changing the owner needs root");
        // Nothing may be removed when there is no download folder, least of all the working folder.
        const QString workingFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_install->path()));

        QStringList fetched;
        QHash<QString, QString> hashes; // each file must arrive with its manifest hash (its size: end to end)
        QList<qint64> totals;
        Files handed;
        QFile::Permissions othersMay; // on the handed folder, for group and others
        UpdateInstaller installer(
            [&](const QStringList& paths, const QString&, const QString& dir, const QHash<QString, qint64>&,
                const QHash<QString, QString>& expectedHashes) {
                fetched = paths;
                hashes = expectedHashes;
                for (const QString& path : paths)
                    writeFile(dir + "/" + path, download.failed() ? "partial" : published.value(path));
                if (setup == ManifestDiskFull)
                    QFile::link("/dev/full", dir + "/liveupdate.json");
                return download;
            },
            [&](const QString& from, const QString& to) {
                handed = readTree(from);
                othersMay = QFileInfo(from).permissions() & QFile::Permissions(0x77);
                return to == installPath() && copied;
            });
        connect(&installer, &UpdateInstaller::totalBytes, this, [&totals](qint64 total) { totals.append(total); });
        // The copy manager refuses a download folder others can write to: it must not depend on the umask.
        const mode_t umask = ::umask(0);
        const Failure failure = installer.applyUpdate({local, server, installPath(), "https://u/", {}, {}});
        ::umask(umask);
        QDir::setCurrent(workingFolder);

        QCOMPARE(int(failure.code), int(expected.code));
        QCOMPARE(failure.detail, QString(expected.detail).replace("%1", cache));
        const bool downloads = setup == Plain || setup == ManifestDiskFull;
        QCOMPARE(fetched, downloads ? QStringList({"a.txt", "b/c.txt"}) : QStringList());
        QCOMPARE(hashes, downloads ? server.hashes() : decltype(hashes)());
        // "totalFileSize" less the current files.
        QCOMPARE(totals, downloads ? QList<qint64>{996} : QList<qint64>());
        const bool copyRan = !download.failed() && (setup == Plain || setup == SameBuild);
        Files expectedTree = setup == Plain ? Files{{"a.txt", "new a"}, {"b/c.txt", "new c"}} : Files();
        expectedTree.insert("liveupdate.json", savedManifest(server));
        QCOMPARE(handed, copyRan ? expectedTree : Files());
        QCOMPARE(othersMay, QFile::Permissions());
        QCOMPARE(QFileInfo::exists(cache), failure.failed());
        QVERIFY(!QFileInfo::exists(UpdateInstaller::cacheFolder("1.5")));
        QCOMPARE(readTree(installPath()), installed);
    }

    // The real download batch against the dev service and the real copy manager into the installation, also after a
    // run that was cut short and when the service cuts a download.

    void installsPublishedBuild_data()
    {
        QTest::addColumn<QStringList>("arguments"); // of the dev service
        QTest::addColumn<bool>("cutShort");         // an earlier run left a complete file and half of "Orvel"
        QTest::addColumn<QString>("orvel");         // the requests for "Orvel" in the access log, a pattern

        const QString plain = " 200 30000 .*\n";
        QTest::newRow("fresh") << QStringList() << false << "^[^\n]*" + plain + "$";
        QTest::newRow("cut short earlier: only what is missing")
            << QStringList() << true << "^[^\n]* 206 20000 .* range=bytes=10000-\n$";
        // Only "Orvel" is longer than 15000 bytes: its first download is cut, the one retry continues it.
        QTest::newRow("download cut by the service: continued")
            << QStringList{"--drop-after-bytes", "15000"} << false
            << "^[^\n]* 200 30000 [^\n]*\n[^\n]* 206 \\d+ .* range=bytes=[1-9]\\d*-\n$";
    }

    void installsPublishedBuild()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, cutShort);
        QFETCH(QString, orvel);
        const QString version = "2.0+b #1&x%41"; // needs encoding, as the names do
        Files build{{"Orvel", pattern(30000, 1)},
                    {"data/a b#c&d?e%41f+g=h.txt", pattern(7000, 3)},
                    {QString::fromUtf8("Ünïcödé/日本 語.dat"), pattern(100, 4)},
                    {".config/x", "x"},
                    {"data/.keep", ""}};
        writeTree(m_install->filePath("build"), build);
        DevServiceProcess service;
        QVERIFY2(service.start(m_install->filePath("state"),
                               QStringList{"--publish", version + "=" + m_install->filePath("build")} + arguments),
                 qPrintable(service.failure()));
        QSslConfiguration::setDefaultConfiguration(service.sslConfiguration());
        const QString cache = UpdateInstaller::cacheFolder(version);
        if (cutShort) {
            writeFile(cache + "/Orvel", build.value("Orvel").left(10000));
            writeFile(cache + "/data/a b#c&d?e%41f+g=h.txt", build.value("data/a b#c&d?e%41f+g=h.txt"));
        }
        // As the launcher does: the check first (nothing installed yet), with the publisher's key, then the update. A
        // key that is not the publisher's verifies nothing.
        VersionCheck check(service.updateUrl());
        check.setManifestPublicKey(QByteArray(31, 'k').toBase64());
        QCOMPARE(check.checkAppVersion(Manifest()).code, UpdateNotVerified);
        check.setManifestPublicKey(service.value("ORVEL_MANIFEST_PUBLIC_KEY"));
        QCOMPARE(check.checkAppVersion(Manifest()).code, NoError);
        DownloadBatch batch;
        UpdateInstaller installer([&batch](const auto&... arguments) { return batch.downloadInParallel(arguments...); },
                                  [](const QString& from, const QString& to) {
                                      return ProgramStart::startCopyManager(from, to, ORVEL_BIN_DIR);
                                  });
        const Failure failure =
            installer.applyUpdate({Manifest(), check.serverManifest(), installPath(), service.updateUrl(),
                                   check.signedManifest(), check.manifestSignature()});
        QVERIFY2(!failure.failed(), qPrintable(failure.detail));
        build.insert("liveupdate.json", savedManifest(check.serverManifest()));
        QCOMPARE(readTree(installPath()), build);
        QVERIFY(!QFileInfo::exists(cache));
        // The service logs a request once it has answered it: the last line may come a moment later.
        const auto requests = [&service](const QString& file) {
            return QString::fromUtf8(service.accessLog()).split('\n').filter("&file=/" + file).join('\n') + '\n';
        };
        QTRY_VERIFY2(QRegularExpression(orvel).match(requests("Orvel ")).hasMatch(), qPrintable(requests("Orvel ")));
        QCOMPARE(requests("data/a%20b").count("&file="), cutShort ? 0 : 1);
    }

private:
    QString installPath() const { return m_install->path() + "/App"; }

    std::optional<TempSettingsHome> m_home;
    std::optional<QTemporaryDir> m_install;
};

QTEST_GUILESS_MAIN(tst_UpdateInstaller)
#include "tst_UpdateInstaller.moc"
