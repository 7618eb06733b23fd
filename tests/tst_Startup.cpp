#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "Startup.h"

// The fonts beside the program (the single-instance refusal is checked end to end, with real processes).
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void fonts();
};

void tst_Startup::fonts()
{
    QTemporaryDir program;
    const QDir dir(program.path());
    const auto expectRegistered = [&program](int expected) {
        QApplication::setFont(QFont(QStringLiteral("Serif")));
        QCOMPARE(Startup::loadApplicationFonts(program.path()), expected);
        // The family is asked for even when nothing was registered.
        QCOMPARE(QApplication::font().family(), QStringLiteral("Noto Sans"));
        QCOMPARE(QApplication::font("QPushButton").family(), QStringLiteral("Noto Sans"));
    };
    expectRegistered(0); // no Font folder

    // Two fonts; a damaged one, other files, folders and fonts outside Font/ are skipped.
    QVERIFY(dir.mkpath("Font/sub.ttf"));
    for (const QString name :
         {"Font/NotoSans-Regular.ttf", "Font/NotoSans-Bold.ttf", "NotoSans-Italic.ttf", "Font/NotoSans-Italic.otf"}) {
        const QString font = QFileInfo(name).completeBaseName() + ".ttf";
        QVERIFY(QFile::copy(ORVEL_BIN_DIR "/Font/" + font, dir.filePath(name)));
    }
    for (const QString name : {"Font/broken.ttf", "Font/readme.txt"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a font") > 0);
    }
    expectRegistered(2);
}

QTEST_MAIN(tst_Startup)
#include "tst_Startup.moc"
