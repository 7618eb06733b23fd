#include <QtTest>

#include "Manifest.h"
#include "ServiceUrls.h"
#include "UpdateTestFiles.h"

using namespace UpdateTest;

namespace {
const QByteArray kServer = R"({"totalFileSize": 10, "fileList": [{"path": "a.bin", "size": 3, "hash": "AA"}, )"
                           R"({"path": "dir/b.bin", "size": 7, "hash": "bb"}]})";
const QByteArray kLocal = R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "dir/b.bin", "hash": "bb"}]})";
const Files kFiles{{"a.bin", "123"}, {"dir/b.bin", "1234567"}};

struct ChangeCase
{
    QStringList expectedPaths;
    qint64 expectedTotal = 0;
    QByteArray local = kLocal; // null: no local manifest
    Files files = kFiles;
    QByteArray server = kServer;
};

struct AddressCase
{
    QByteArray local;                               // null: no local manifest
    QString check;                                  // the application-update request's query
    QString download = "version=2.0&os=255&file=/"; // the download address's query (the server's build is 2.0)
};
} // namespace
Q_DECLARE_METATYPE(ChangeCase)
Q_DECLARE_METATYPE(AddressCase)

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void collectChangedFiles_data()
    {
        QTest::addColumn<ChangeCase>("c");

        QTest::newRow("all current") << ChangeCase{};
        QTest::newRow("no local manifest: hashed entries listed") << ChangeCase{{"a.bin", "dir/b.bin"}, 10, {}};
        QTest::newRow("no local manifest: empty hash with right size is current") << ChangeCase{
            {}, 3, {}, {{"x", "12"}}, R"({"totalFileSize": 5, "fileList": [{"path": "x", "size": 2, "hash": ""}]})"};
        QTest::newRow("right hash, wrong size on disk")
            << ChangeCase{{"a.bin"}, 3, kLocal, {{"a.bin", "1234"}, {"dir/b.bin", "1234567"}}};
        QTest::newRow("hash differing in case only") << ChangeCase{
            {"a.bin"}, 3, R"({"fileList": [{"path": "a.bin", "hash": "aa"}, {"path": "dir/b.bin", "hash": "bb"}]})"};
        const QByteArray duplicate =
            R"({"fileList": [{"path": "a.bin", "hash": "AA"}, {"path": "a.bin", "hash": "old"}, )"
            R"({"path": "dir/b.bin", "hash": "bb"}]})";
        QTest::newRow("duplicate local path: last hash compared") << ChangeCase{{"a.bin"}, 3, duplicate};
        QTest::newRow("missing fileList: nothing listed, total unchanged")
            << ChangeCase{{}, 1234, {}, kFiles, R"({"totalFileSize": 1234})"};
    }

    void collectChangedFiles()
    {
        QFETCH(ChangeCase, c);
        QString refusal;
        const std::optional<Manifest> parsed = Manifest::parse(QJsonDocument::fromJson(c.server).object(), &refusal);
        QVERIFY2(parsed, qPrintable(refusal));

        QStringList paths{"kept"};
        QCOMPARE(::collectChangedFiles(*parsed, installed(c.local, c.files), m_install.path(), paths), c.expectedTotal);
        QCOMPARE(paths, QStringList{"kept"} + c.expectedPaths);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("refusal"); // empty: accepted

        const auto entry = [](const char* path, const char* size) {
            return QByteArray(R"({"fileList": [{"path": "ok", "size": 1}, {"path": )") + path + R"(, "size": )" + size +
                   "}]}";
        };
        QTest::newRow("dot-named segments") << entry(R"(".config/x")", "0") << QString();
        QTest::newRow("dots inside a name") << entry(R"("a..b/..c")", "0") << QString();
        QTest::newRow("empty path keeps its download failure") << entry(R"("")", "0") << QString();
        QTest::newRow("size 2^31 + 1") << entry(R"("a")", "2147483649") << QString();
        QTest::newRow("size 2^53") << entry(R"("a")", "9007199254740992") << QString();
        QTest::newRow("parent segment inside") << entry(R"("data/../../evil")", "0") << "unsafe path";
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
        QTest::newRow("hash not a string")
            << QByteArray(R"({"fileList": [{"path": "a", "size": 1, "hash": 5}]})") << R"("hash" is not a string)";
        QTest::newRow("entry not an object") << QByteArray(R"({"fileList": ["a"]})") << "fileList[0] is not an object";
        QTest::newRow("fileList an object")
            << QByteArray(R"({"fileList": {"a": {"path": "a", "size": 1}}})") << R"("fileList" is not an array)";
        QTest::newRow("version not a string") << QByteArray(R"({"version": 2})") << R"("version" is not a string)";
        QTest::newRow("total not a number") << QByteArray(R"({"totalFileSize": "9"})") << R"("totalFileSize" is not)";
    }

    void parse()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, refusal);
        const QJsonObject document = QJsonDocument::fromJson(manifest).object();
        QString reason;
        const std::optional<Manifest> parsed = Manifest::parse(document, &reason);
        QCOMPARE(bool(parsed), refusal.isEmpty());
        QVERIFY2(reason.contains(refusal), qPrintable(reason));
        if (parsed && document["fileList"].isArray()) {
            const QJsonObject last = document["fileList"].toArray().last().toObject();
            QCOMPARE(parsed->fileList.last().path, last["path"].toString());
            QCOMPARE(parsed->fileList.last().size, qint64(last["size"].toDouble()));
        }
    }

    void requestAddresses_data()
    {
        QTest::addColumn<AddressCase>("c");

        QTest::newRow("release channel") << AddressCase{R"({"version":"5.1.20.0"})",
                                                        "version=5.1.20.0&os=255&output=json"};
        QTest::newRow("daily channel, number")
            << AddressCase{R"({"version":"1.0","targetVersion":7})", "version=.t&vt=daily&os=255&output=json",
                           "version=.t&vt=daily&os=255&file=/"};
        QTest::newRow("daily channel, text")
            << AddressCase{R"({"targetVersion":"5"})", "version=5.t&vt=daily&os=255&output=json",
                           "version=5.t&vt=daily&os=255&file=/"};
        QTest::newRow("version text encoded") << AddressCase{
            "{\"version\":\"5.1 b#2&x=%41+ü\"}", "version=5.1%20b%232%26x%3D%2541%2B%C3%BC&os=255&output=json"};
        QTest::newRow("no local manifest") << AddressCase{{}, "version=0.0.0.0&os=255&output=json"};
    }

    void requestAddresses()
    {
        QFETCH(AddressCase, c);
        Manifest server;
        server.version = "2.0";
        const Manifest installation = installed(c.local);
        QCOMPARE(ServiceUrls::appUpdate("https://u/", installation), "https://u/orvel/patch?" + c.check);
        QCOMPARE(ServiceUrls::download("https://u/", installation, server),
                 "https://u/orvel/patch/download?" + c.download);
    }

private:
    // The installed manifest of a folder holding `files` and, unless it is null, `manifest` as liveupdate.json.
    Manifest installed(const QByteArray& manifest, const Files& files = {})
    {
        QDir(m_install.path()).removeRecursively();
        writeTree(m_install.path(), files);
        if (!manifest.isNull())
            writeFile(m_install.filePath("liveupdate.json"), manifest);
        else
            QTest::ignoreMessage(QtDebugMsg, "Could not open local liveupdate.json file.");
        return Manifest::loadInstalled(m_install.path());
    }

    QTemporaryDir m_install;
};

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_Manifest.moc"
