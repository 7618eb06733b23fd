#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include "Manifest.h"
#include "ServiceUrls.h"
#include "UpdateTestFiles.h"

using namespace UpdateTest;

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void collectChangedFiles_data();
    void collectChangedFiles();
    void readSize_data();
    void readSize();
    void unsafePaths_data();
    void unsafePaths();
    void manifestVersion_data();
    void manifestVersion();
    void downloadUrl_data();
    void downloadUrl();
    void loadLocalManifest_data();
    void loadLocalManifest();
    void saveServerManifestIsIndentedServerObject();
    void saveServerManifestUnwritable();
    void expectedSizesLastEntryWins();
};

void tst_Manifest::collectChangedFiles_data()
{
    QTest::addColumn<QByteArray>("localManifest"); // empty: no local manifest
    QTest::addColumn<Files>("files");
    QTest::addColumn<QByteArray>("serverManifest");
    QTest::addColumn<QStringList>("expectedPaths");
    QTest::addColumn<qint64>("expectedTotal");

    const QByteArray server = R"({"totalFileSize": 10, "fileList": [
        {"path": "a.bin", "size": 3, "hash": "AA"},
        {"path": "dir/b.bin", "size": 7, "hash": "bb"}]})";
    const Files both{{"a.bin", "123"}, {"dir/b.bin", "1234567"}};

    QTest::newRow("all current") << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"},
        {"path": "dir/b.bin", "hash": "bb"}]})")
                                 << both << server << QStringList() << qint64(0);
    QTest::newRow("no local manifest: hashed entries listed")
        << QByteArray() << both << server << QStringList{"a.bin", "dir/b.bin"} << qint64(10);
    QTest::newRow("no local manifest: empty hash with right size is current")
        << QByteArray() << Files{{"x", "12"}}
        << QByteArray(R"({"totalFileSize": 5, "fileList": [{"path": "x", "size": 2, "hash": ""}]})") << QStringList()
        << qint64(3);
    QTest::newRow("no local manifest: empty hash with file missing is listed")
        << QByteArray() << Files()
        << QByteArray(R"({"totalFileSize": 5, "fileList": [{"path": "x", "size": 2, "hash": ""}]})") << QStringList{"x"}
        << qint64(5);
    QTest::newRow("right hash, wrong size on disk")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "dir/b.bin", "hash": "bb"}]})")
        << Files{{"a.bin", "1234"}, {"dir/b.bin", "1234567"}} << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("right hash, file missing")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "dir/b.bin", "hash": "bb"}]})")
        << Files{{"a.bin", "123"}} << server << QStringList{"dir/b.bin"} << qint64(7);
    QTest::newRow("hash differing in case only")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "aa"}, {"path": "dir/b.bin", "hash": "bb"}]})") << both
        << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("duplicate local path: last hash compared, matching")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "old"}, {"path": "a.bin", "hash": "AA"},
            {"path": "dir/b.bin", "hash": "bb"}]})")
        << both << server << QStringList() << qint64(0);
    QTest::newRow("duplicate local path: last hash compared, differing")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "a.bin", "hash": "old"},
            {"path": "dir/b.bin", "hash": "bb"}]})")
        << both << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("missing fileList: nothing listed, total unchanged")
        << QByteArray() << both << QByteArray(R"({"totalFileSize": 1234})") << QStringList() << qint64(1234);
    QTest::newRow("empty path is listed as empty text")
        << QByteArray() << Files()
        << QByteArray(R"({"totalFileSize": 4, "fileList": [{"path": "", "size": 4, "hash": "h"}]})")
        << QStringList{QString()} << qint64(4);
    QTest::newRow("total disagreeing with entries is kept")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"}]})") << both
        << QByteArray(R"({"totalFileSize": 100, "fileList": [{"path": "a.bin", "size": 3, "hash": "AA"},
            {"path": "c", "size": 9, "hash": "cc"}]})")
        << QStringList{"c"} << qint64(97);
    QTest::newRow("invalid local manifest treats all as changed")
        << QByteArray("[1, 2]") << both << server << QStringList{"a.bin", "dir/b.bin"} << qint64(10);
    QTest::newRow("negative size, file missing")
        << QByteArray() << Files()
        << QByteArray(R"({"totalFileSize": 0, "fileList": [{"path": "x", "size": -1, "hash": ""}]})")
        << QStringList{"x"} << qint64(0);
    QTest::newRow("a folder where the file should be")
        << QByteArray(R"({"fileList": [{"path": "dir", "hash": "h"}]})") << Files{{"dir/inner", "1"}}
        << QByteArray(R"({"totalFileSize": 1, "fileList": [{"path": "dir", "size": 1, "hash": "h"}]})")
        << QStringList{"dir"} << qint64(1);
    QTest::newRow("server order kept")
        << QByteArray() << Files()
        << QByteArray(R"({"totalFileSize": 3, "fileList": [{"path": "z", "size": 1, "hash": "1"},
            {"path": "a", "size": 1, "hash": "2"}, {"path": "m", "size": 1, "hash": "3"}]})")
        << QStringList{"z", "a", "m"} << qint64(3);
}

void tst_Manifest::collectChangedFiles()
{
    QFETCH(QByteArray, localManifest);
    QFETCH(Files, files);
    QFETCH(QByteArray, serverManifest);
    QFETCH(QStringList, expectedPaths);
    QFETCH(qint64, expectedTotal);

    QTemporaryDir install;
    QVERIFY(install.isValid());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeFile(install.filePath(it.key()), it.value());
    if (!localManifest.isEmpty())
        writeFile(install.filePath("liveupdate.json"), localManifest);
    else
        QTest::ignoreMessage(QtDebugMsg, "Could not open local liveupdate.json file.");
    if (localManifest.startsWith('['))
        QTest::ignoreMessage(QtDebugMsg, "invalid local liveupdate.json file.");

    const QJsonObject local = Manifest::loadLocalManifest(install.path());
    QStringList paths{"kept"};
    const qint64 total =
        Manifest::collectChangedFiles(json(serverManifest), Manifest::indexLocalHashes(local), install.path(), paths);
    QCOMPARE(paths, QStringList{"kept"} + expectedPaths);
    QCOMPARE(total, expectedTotal);
}

void tst_Manifest::readSize_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("whole number") << QByteArray("5") << 5;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("negative") << QByteArray("-1") << -1;
    QTest::newRow("largest 32-bit") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("smallest 32-bit") << QByteArray("-2147483648") << qint32(-2147483648LL);
    QTest::newRow("2^31 is out of range") << QByteArray("2147483648") << 0;
    QTest::newRow("below range") << QByteArray("-2147483649") << 0;
    QTest::newRow("5 GB") << QByteArray("5000000000") << 0;
    QTest::newRow("fraction") << QByteArray("1.5") << 0;
    QTest::newRow("exponent, whole") << QByteArray("1e3") << 1000;
    QTest::newRow("text") << QByteArray("\"5\"") << 0;
    QTest::newRow("null") << QByteArray("null") << 0;
    QTest::newRow("bool") << QByteArray("true") << 0;
}

void tst_Manifest::readSize()
{
    QFETCH(QByteArray, value);
    QFETCH(qint32, expected);
    const QJsonObject object = json("{\"v\": " + value + "}");
    QCOMPARE(Manifest::readSize(object.value("v")), expected);
    QCOMPARE(Manifest::readSize(object.value("absent")), 0);
}

void tst_Manifest::unsafePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("unsafe");

    QTest::newRow("plain") << "Orvel.exe" << false;
    QTest::newRow("nested") << "data/fonts/a b.ttf" << false;
    QTest::newRow("hidden file") << "data/.config" << false;
    QTest::newRow("dots inside a name") << "a..b/..c" << false;
    QTest::newRow("empty keeps its download failure") << "" << false;
    QTest::newRow("parent segment") << "../evil" << true;
    QTest::newRow("parent segment inside") << "data/../../evil" << true;
    QTest::newRow("parent segment last") << "data/.." << true;
    QTest::newRow("current segment") << "./a" << true;
    QTest::newRow("current segment last") << "a/." << true;
    QTest::newRow("absolute") << "/etc/cron.d/x" << true;
    QTest::newRow("drive letter") << "C:/Windows/x.dll" << true;
    QTest::newRow("colon") << "a:b" << true;
    QTest::newRow("backslash") << "data\\..\\x" << true;
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b" << true;
}

void tst_Manifest::unsafePaths()
{
    QFETCH(QString, path);
    QFETCH(bool, unsafe);
    QJsonObject manifest;
    manifest["fileList"] =
        QJsonArray{QJsonObject{{"path", "ok.txt"}}, QJsonObject{{"path", path}}, QJsonObject{{"path", "../second"}}};
    const QStringList expected = unsafe ? QStringList{path, "../second"} : QStringList{"../second"};
    QCOMPARE(Manifest::unsafePaths(manifest), expected);
}

void tst_Manifest::manifestVersion_data()
{
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("daily");

    const QByteArray server = R"({"version": "5.2.0.0"})";
    const QByteArray local = R"({"version": "5.1.20.0"})";
    QTest::newRow("installed version") << local << server << 1 << "5.1.20.0" << false;
    QTest::newRow("version being downloaded") << local << server << 0 << "5.2.0.0" << false;
    QTest::newRow("other source") << local << server << 2 << "0.0.0.0" << false;
    QTest::newRow("no local manifest") << QByteArray("{}") << server << 1 << "0.0.0.0" << false;
    QTest::newRow("no server version") << local << QByteArray("{}") << 0 << "0.0.0.0" << false;
    QTest::newRow("version not text") << QByteArray(R"({"version": 5})") << server << 1 << "0.0.0.0" << false;
    QTest::newRow("daily, installed") << QByteArray(R"({"version": "1.0", "targetVersion": "7.3.100"})") << server << 1
                                      << "7.3.100.t" << true;
    QTest::newRow("daily, downloaded") << QByteArray(R"({"version": "1.0", "targetVersion": "7.3.100"})") << server << 0
                                       << "7.3.100.t" << true;
    QTest::newRow("daily, text 5") << QByteArray(R"({"targetVersion": "5"})") << server << 1 << "5.t" << true;
    QTest::newRow("daily, number") << QByteArray(R"({"targetVersion": 7})") << server << 1 << ".t" << true;
    QTest::newRow("daily, null") << QByteArray(R"({"targetVersion": null})") << server << 0 << ".t" << true;
}

void tst_Manifest::manifestVersion()
{
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, server);
    QFETCH(int, source);
    QFETCH(QString, expected);
    QFETCH(bool, daily);
    QCOMPARE(Manifest::manifestVersion(json(local), json(server), source), expected);
    QCOMPARE(Manifest::isDailyChannel(json(local)), daily);
    QCOMPARE(ServiceUrls::channel(json(local)), daily ? QString("&vt=daily") : QString());
}

void tst_Manifest::downloadUrl_data()
{
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QString>("download");

    // The update check's address is checked on the wire (tst_VersionCheck::appUpdateRequest).
    QTest::newRow("release channel") << QByteArray(R"({"version": "5.1.20.0"})")
                                     << "https://u/orvel/patch/download?version=5.2.0.0&os=255&file=/";
    QTest::newRow("daily channel") << QByteArray(R"({"version": "5.1.20.0", "targetVersion": "7.3.100"})")
                                   << "https://u/orvel/patch/download?version=7.3.100.t&vt=daily&os=255&file=/";
    QTest::newRow("no local manifest") << QByteArray("{}")
                                       << "https://u/orvel/patch/download?version=5.2.0.0&os=255&file=/";
}

void tst_Manifest::downloadUrl()
{
    QFETCH(QByteArray, local);
    QFETCH(QString, download);
    QCOMPARE(ServiceUrls::download("https://u/", json(local), json(R"({"version": "5.2.0.0"})")), download);
}

void tst_Manifest::loadLocalManifest_data()
{
    QTest::addColumn<QByteArray>("content"); // "-" for no file
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("loaded");

    QTest::newRow("missing") << QByteArray("-") << "Could not open local liveupdate.json file." << false;
    QTest::newRow("not JSON") << QByteArray("{oops") << "invalid local liveupdate.json file." << false;
    QTest::newRow("array") << QByteArray("[]") << "invalid local liveupdate.json file." << false;
    QTest::newRow("empty file") << QByteArray("") << "invalid local liveupdate.json file." << false;
    QTest::newRow("object") << QByteArray(R"({"version": "1.0"})") << QString() << true;
}

void tst_Manifest::loadLocalManifest()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(bool, loaded);
    QTemporaryDir install;
    if (content != "-")
        writeFile(install.filePath("liveupdate.json"), content);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, message.toUtf8().constData());
    const QJsonObject manifest = Manifest::loadLocalManifest(install.path());
    QCOMPARE(!manifest.isEmpty(), loaded);
    if (loaded)
        QCOMPARE(manifest.value("version").toString(), QString("1.0"));
}

void tst_Manifest::saveServerManifestIsIndentedServerObject()
{
    QTemporaryDir dir;
    // Reply bytes as the service might send them: compact, odd key order, a stale file in place.
    const QJsonObject server = json(R"({"version":"2.0","fileList":[{"path":"a","size":1,"hash":"x"}]})");
    writeFile(dir.filePath("liveupdate.json"), QByteArray(4096, 'z'));
    QVERIFY(Manifest::saveServerManifest(server, dir.path()));
    QFile saved(dir.filePath("liveupdate.json"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QCOMPARE(bytes, QJsonDocument(server).toJson(QJsonDocument::Indented));
}

void tst_Manifest::saveServerManifestUnwritable()
{
    QTemporaryDir dir;
    QTest::ignoreMessage(QtDebugMsg, "Could not open liveupdate.json file.");
    QVERIFY(!Manifest::saveServerManifest(json("{}"), dir.filePath("missing/folder")));
}

void tst_Manifest::expectedSizesLastEntryWins()
{
    const QJsonObject server = json(R"({"fileList": [{"path": "a", "size": 1}, {"path": "b", "size": 2},
        {"path": "a", "size": 3}, {"path": "c", "size": "x"}]})");
    const QMap<QString, qint64> sizes = Manifest::expectedSizes(server, {"a", "c"});
    QCOMPARE(sizes, (QMap<QString, qint64>{{"a", 3}, {"c", 0}}));
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_Manifest.moc"
