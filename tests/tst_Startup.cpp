#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "Startup.h"

// The fonts beside the program (the single-instance refusal is checked end to end, with real processes).
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void fonts_data();
    void fonts();
};

void tst_Startup::fonts_data()
{
    QTest::addColumn<QStringList>("files"); // relative to the program's folder; "dir:" makes a folder
    QTest::addColumn<int>("registered");

    QTest::newRow("two fonts; damaged, other files, folders and fonts outside Font/ skipped")
        << QStringList{"Font/NotoSans-Regular.ttf", "Font/broken.ttf",  "Font/NotoSans-Bold.ttf", "Font/readme.txt",
                       "Font/NotoSans-Italic.otf",  "dir:Font/sub.ttf", "NotoSans-Italic.ttf"}
        << 2;
    QTest::newRow("no folder") << QStringList() << 0;
}

void tst_Startup::fonts()
{
    QFETCH(QStringList, files);
    QFETCH(int, registered);

    QTemporaryDir program;
    const QDir dir(program.path());
    for (const QString& entry : files) {
        QVERIFY(dir.mkpath(entry.startsWith("dir:") ? entry.mid(4) : QFileInfo(entry).path()));
        const QString name = QFileInfo(entry).fileName();
        const QString source = QStringLiteral(ORVEL_BIN_DIR "/Font/") + QString(name).replace(".otf", ".ttf");
        if (name == "broken.ttf" || name == "readme.txt") {
            QFile file(dir.filePath(entry));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a font") > 0);
        } else if (!entry.startsWith("dir:")) {
            QVERIFY2(QFile::copy(source, dir.filePath(entry)), qPrintable(source));
        }
    }

    QApplication::setFont(QFont(QStringLiteral("Serif")));
    QCOMPARE(Startup::loadApplicationFonts(program.path()), registered);
    // The family is asked for even when nothing was registered.
    QCOMPARE(QApplication::font().family(), QStringLiteral("Noto Sans"));
    QCOMPARE(QApplication::font("QPushButton").family(), QStringLiteral("Noto Sans"));
}

QTEST_MAIN(tst_Startup)
#include "tst_Startup.moc"
