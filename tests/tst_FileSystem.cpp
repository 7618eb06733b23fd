// ensureDirectory: what exists afterwards, and what it leaves alone.
#include <QtTest>

#include "FileSystem.h"

class tst_FileSystem : public QObject
{
    Q_OBJECT

private slots:
    void ensureDirectory_data();
    void ensureDirectory();
};

void tst_FileSystem::ensureDirectory_data()
{
    QTest::addColumn<QString>("path"); // relative to a fresh temporary folder; "" stays empty
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("empty path") << QString() << false << false;
    QTest::newRow("existing folder") << QStringLiteral(".") << true << true;
    QTest::newRow("missing parents") << QStringLiteral("a/b c/d") << true << true;
    QTest::newRow("trailing separator") << QStringLiteral("x/y/") << true << true;
    QTest::newRow("below a file") << QStringLiteral("file.txt/sub") << false << false;
}

void tst_FileSystem::ensureDirectory()
{
    QFETCH(QString, path);
    QFETCH(bool, result);
    QFETCH(bool, existsAfter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("file.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const QString target = path.isEmpty() ? QString() : dir.filePath(path);
    QCOMPARE(::ensureDirectory(target), result);
    QCOMPARE(QFileInfo(target).isDir(), existsAfter);
    if (!result) // nothing created on failure
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

QTEST_GUILESS_MAIN(tst_FileSystem)
#include "tst_FileSystem.moc"
