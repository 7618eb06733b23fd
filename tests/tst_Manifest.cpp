#include <QtTest>

#include "Manifest.h"
#include "UpdateTestFiles.h"

using namespace UpdateTest;

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void collectChangedFiles_data();
    void collectChangedFiles();
    void unsafePaths_data();
    void unsafePaths();
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

    const QByteArray local = R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "dir/b.bin", "hash": "bb"}]})";
    QTest::newRow("all current") << local << both << server << QStringList() << qint64(0);
    QTest::newRow("no local manifest: hashed entries listed")
        << QByteArray() << both << server << QStringList{"a.bin", "dir/b.bin"} << qint64(10);
    QTest::newRow("no local manifest: empty hash with right size is current")
        << QByteArray() << Files{{"x", "12"}}
        << QByteArray(R"({"totalFileSize": 5, "fileList": [{"path": "x", "size": 2, "hash": ""}]})") << QStringList()
        << qint64(3);
    QTest::newRow("right hash, wrong size on disk")
        << local << Files{{"a.bin", "1234"}, {"dir/b.bin", "1234567"}} << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("hash differing in case only")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "aa"}, {"path": "dir/b.bin", "hash": "bb"}]})") << both
        << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("duplicate local path: last hash compared, differing")
        << QByteArray(R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "a.bin", "hash": "old"},
            {"path": "dir/b.bin", "hash": "bb"}]})")
        << both << server << QStringList{"a.bin"} << qint64(3);
    QTest::newRow("missing fileList: nothing listed, total unchanged")
        << QByteArray() << both << QByteArray(R"({"totalFileSize": 1234})") << QStringList() << qint64(1234);
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
    writeTree(install.path(), files);
    if (!localManifest.isEmpty())
        writeFile(install.filePath("liveupdate.json"), localManifest);
    else
        QTest::ignoreMessage(QtDebugMsg, "Could not open local liveupdate.json file.");

    const QJsonObject local = Manifest::loadLocalManifest(install.path());
    QStringList paths{"kept"};
    const qint64 total =
        Manifest::collectChangedFiles(json(serverManifest), Manifest::indexLocalHashes(local), install.path(), paths);
    QCOMPARE(paths, QStringList{"kept"} + expectedPaths);
    QCOMPARE(total, expectedTotal);
}

void tst_Manifest::unsafePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("unsafe");

    QTest::newRow("plain") << "Orvel.exe" << false;
    QTest::newRow("dots inside a name") << "a..b/..c" << false;
    QTest::newRow("empty keeps its download failure") << "" << false;
    QTest::newRow("parent segment inside") << "data/../../evil" << true;
    QTest::newRow("parent segment last") << "data/.." << true;
    QTest::newRow("current segment") << "./a" << true;
    QTest::newRow("absolute") << "/etc/cron.d/x" << true;
    QTest::newRow("drive letter") << "C:/Windows/x.dll" << true;
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

void tst_Manifest::expectedSizesLastEntryWins()
{
    const QJsonObject server = json(R"({"fileList": [{"path": "a", "size": 1}, {"path": "b", "size": 2},
        {"path": "a", "size": 3}, {"path": "c", "size": "x"}]})");
    const QMap<QString, qint64> sizes = Manifest::expectedSizes(server, {"a", "c"});
    QCOMPARE(sizes, (QMap<QString, qint64>{{"a", 3}, {"c", 0}}));
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_Manifest.moc"
