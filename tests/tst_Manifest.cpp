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
    void parseServerManifest_data();
    void parseServerManifest();
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
    QString error;
    const std::optional<ServerManifest> server = ServerManifest::parse(json(serverManifest), &error);
    QVERIFY2(server, qPrintable(error));
    QStringList paths{"kept"};
    const qint64 total =
        Manifest::collectChangedFiles(*server, Manifest::indexLocalHashes(local), install.path(), paths);
    QCOMPARE(paths, QStringList{"kept"} + expectedPaths);
    QCOMPARE(total, expectedTotal);
}

void tst_Manifest::parseServerManifest_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("refusal"); // empty: accepted

    const auto entry = [](const char* path, const char* size) {
        return QByteArray(R"({"fileList": [{"path": "ok", "size": 1}, {"path": )") + path + R"(, "size": )" + size +
               "}]}";
    };
    QTest::newRow("dot-named segments") << entry(R"(".config/x")", "0") << QString();
    QTest::newRow("dot-named last segment") << entry(R"("data/.keep")", "0") << QString();
    QTest::newRow("dots inside a name") << entry(R"("a..b/..c")", "0") << QString();
    QTest::newRow("empty path keeps its download failure") << entry(R"("")", "0") << QString();
    QTest::newRow("size 2^31 + 1") << entry(R"("a")", "2147483649") << QString();
    QTest::newRow("size 2^53") << entry(R"("a")", "9007199254740992") << QString();
    QTest::newRow("parent segment inside") << entry(R"("data/../../evil")", "0") << "unsafe path";
    QTest::newRow("parent segment last") << entry(R"("data/..")", "0") << "unsafe path";
    QTest::newRow("current segment") << entry(R"("./a")", "0") << "unsafe path";
    QTest::newRow("absolute") << entry(R"("/etc/cron.d/x")", "0") << "unsafe path";
    QTest::newRow("drive letter") << entry(R"("C:/Windows/x.dll")", "0") << "unsafe path";
    QTest::newRow("backslash") << entry(R"("data\\..\\x")", "0") << "unsafe path";
    QTest::newRow("NUL") << entry(R"("a\u0000b")", "0") << "unsafe path";
    QTest::newRow("path not a string") << entry("7", "0") << R"(fileList[1]: "path" is not a string)";
    QTest::newRow("size negative") << entry(R"("a")", "-1") << R"(fileList[1]: "size" is not a whole number)";
    QTest::newRow("size fractional") << entry(R"("a")", "1.5") << R"("size" is not a whole number)";
    QTest::newRow("size as text") << entry(R"("a")", R"("12")") << R"("size" is not a whole number)";
    QTest::newRow("size beyond 2^53") << entry(R"("a")", "9007199254740994") << R"("size" is not a whole number)";
    QTest::newRow("size missing") << QByteArray(R"({"fileList": [{"path": "a"}]})") << R"("size" is not)";
    QTest::newRow("entry not an object") << QByteArray(R"({"fileList": ["a"]})") << "fileList[0] is not an object";
    QTest::newRow("fileList an object") << QByteArray(R"({"fileList": {"a": {"path": "a", "size": 1}}})")
                                        << R"("fileList" is not an array)";
    QTest::newRow("version not a string") << QByteArray(R"({"version": 2})") << R"("version" is not a string)";
    QTest::newRow("total not a number") << QByteArray(R"({"totalFileSize": "9"})") << R"("totalFileSize" is not)";
}

void tst_Manifest::parseServerManifest()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QString, refusal);
    const QJsonDocument document = QJsonDocument::fromJson(manifest);
    QVERIFY(document.isObject());
    QString error;
    const std::optional<ServerManifest> parsed = ServerManifest::parse(document.object(), &error);
    QCOMPARE(bool(parsed), refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    if (parsed && document["fileList"].isArray()) {
        const QJsonObject last = document["fileList"].toArray().last().toObject();
        QCOMPARE(parsed->fileList.last().path, last["path"].toString());
        QCOMPARE(parsed->fileList.last().size, qint64(last["size"].toDouble()));
    }
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_Manifest.moc"
