// What the launcher settles before its window opens: the primary display's measurement (X11: the mode in physical
// pixels, the layout size from the desktop's scale), its own QT_SCALE_FACTOR and the "preference" values it stores,
// and the fonts beside the program. The single-instance refusal is checked end to end, with real processes.
#include <QtTest>

#include "DisplayScale.h"
#include "Platform.h"
#include "Startup.h"
#include "UpdateTestFiles.h"
#include "VirtualDisplay.h"

using namespace UpdateTest;

struct ScaleCase
{
    QSize logical; // invalid: the display could not be measured
    QSize mode;
    QVariant useAutomaticScale; // invalid: absent, and so for the next three
    QVariant resolutionScale{};
    QVariant highResolution{};  // stored "isHighResolutionMonitor"
    QVariant scaleFactor{};     // stored "ScaleFactor"
    QByteArray qtScaleFactor{}; // null: unset
};
Q_DECLARE_METATYPE(ScaleCase)

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_display.start()); }

    void displayMeasured_data()
    {
        QTest::addColumn<QString>("resources");
        QTest::addColumn<QSize>("logical");

        QTest::newRow("no desktop scale") << QString() << QSize(1600, 900);
        QTest::newRow("144 dpi is 150%, rounded, among other resources")
            << QStringLiteral("Xcursor.size: 48\nXft.dpi:\t144") << QSize(1067, 600);
        QTest::newRow("nonsense dpi is ignored") << QStringLiteral("Xft.dpi: lots") << QSize(1600, 900);
    }

    void displayMeasured()
    {
        QFETCH(QString, resources);
        QFETCH(QSize, logical);

        // Replaces the earlier row's resources; a failed load shows as the earlier row's size.
        m_display.run("xrdb", {"-nocpp", "-load", "-"}, resources.toUtf8() + '\n');
        qputenv("DISPLAY", m_display.name().toLatin1());
        const Platform::DisplayMetrics metrics = Platform::primaryDisplayMetrics();
        QVERIFY(metrics.known);
        QCOMPARE(metrics.physical, QSize(1600, 900));
        QCOMPARE(metrics.logical, logical);
    }

    void displayUnknown()
    {
        qunsetenv("DISPLAY");
        QVERIFY(!Platform::primaryDisplayMetrics().known);
        qputenv("DISPLAY", ":4711"); // a display nobody serves
        QVERIFY(!Platform::primaryDisplayMetrics().known);
    }

    void applyScalePreference_data()
    {
        QTest::addColumn<ScaleCase>("c");
        const QVariant no(false);
        const QVariant none;
        const auto row = [](const char* name, const ScaleCase& c) { QTest::newRow(name) << c; };

        // Results worked out by hand for common desktops.
        row("1920x1080 at 125% keeps the system's scaling", {{1536, 864}, {1920, 1080}, no, none, 0, 0.8, "1.000000"});
        row("2560x1440 at 100% with ResolutionScale 1.2", {{2560, 1440}, {2560, 1440}, no, 1.2f, 1, 1.0, "1.200000"});
        row("absent preference means automatic: only flags the display", {{3840, 2160}, {3840, 2160}, none, none, 1});
        // The 1980-pixel boundary: strictly wider is high resolution.
        row("1980 wide is not high resolution", {{1980, 1080}, {1980, 1080}, no, none, 0, 1.015625, "1.000000"});
        row("1981 wide is high resolution", {{1981, 1080}, {1981, 1080}, no, none, 1, 0.76191406, "1.000000"});
        // The 2560-pixel boundary: up to it the measured ratio decides, beyond it the stored factor.
        row("2560 wide takes the measured ratio", {{2048, 1440}, {2560, 1440}, no, none, 1, 0.9, "0.800000"});
        row("2561 wide takes the stored factor", {{2048, 1440}, {2561, 1440}, no, none, 1, 0.9, "0.900000"});
        row("a stored factor that would overflow the mode resets to 1",
            {{2600, 200}, {2600, 1600}, no, none, 1, 0.5772569, "1.000000"});
        row("the 125% exception ends above 1980 wide", {{1920, 1080}, {2400, 1350}, no, none, 1, 0.75, "0.800000"});
        // The user's extra factor.
        row("ResolutionScale that would overflow the mode is dropped",
            {{1920, 1080}, {1920, 1080}, no, 0.5f, 0, 1.0, "1.000000"});
        row("negative ResolutionScale leaves the variable unset", {{1920, 1080}, {1920, 1080}, no, -1.0f, 0, 1.0});
        // Nothing to decide: nothing stored, nothing set.
        row("zero-height display", {{1920, 0}, {1920, 1080}, no});
        row("display not measured", {QSize(), {1920, 1080}, no});
    }

    void applyScalePreference()
    {
        QFETCH(ScaleCase, c);
        qunsetenv("QT_SCALE_FACTOR");
        QSettings store(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".ini"), QSettings::IniFormat);
        if (c.useAutomaticScale.isValid())
            store.setValue("useAutomaticScale", c.useAutomaticScale);
        if (c.resolutionScale.isValid())
            store.setValue("ResolutionScale", c.resolutionScale);
        const bool known = c.logical.isValid();
        const Platform::DisplayMetrics metrics{known, known ? c.logical : QSize(1280, 720), c.mode};
        DisplayScale().applyScalePreference(metrics, store);

        QCOMPARE(store.contains("isHighResolutionMonitor"), c.highResolution.isValid());
        QCOMPARE(store.value("isHighResolutionMonitor").toFloat(), c.highResolution.toFloat());
        QCOMPARE(store.contains("ScaleFactor"), c.scaleFactor.isValid());
        QCOMPARE(store.value("ScaleFactor").toFloat(), c.scaleFactor.toFloat());
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), c.qtScaleFactor);
    }

    void fonts()
    {
        QTemporaryDir program;
        const auto expectRegistered = [&program](int expected) {
            QApplication::setFont(QFont(QStringLiteral("Serif")));
            QCOMPARE(Startup::loadApplicationFonts(program.path()), expected);
            // The family is asked for even when nothing was registered.
            QCOMPARE(QApplication::font().family(), QStringLiteral("Noto Sans"));
            QCOMPARE(QApplication::font("QPushButton").family(), QStringLiteral("Noto Sans"));
        };
        expectRegistered(0); // no Font folder

        // Two fonts; a damaged one, other files, folders and fonts outside Font/ are skipped.
        QVERIFY(QDir(program.path()).mkpath("Font/sub.ttf"));
        for (const QString name :
             {"Font/NotoSans-Regular.ttf", "Font/NotoSans-Bold.ttf", "NotoSans-Italic.ttf", "Font/NotoSans-Italic.otf"})
            writeFile(program.filePath(name),
                      readFile(ORVEL_BIN_DIR "/Font/" + QFileInfo(name).completeBaseName() + ".ttf"));
        for (const QString name : {"Font/broken.ttf", "Font/readme.txt"})
            writeFile(program.filePath(name), "not a font");
        expectRegistered(2);
    }

private:
    VirtualDisplay m_display{QStringLiteral("1600x900x24")};
    QTemporaryDir m_dir;
};

QTEST_MAIN(tst_Startup)
#include "tst_Startup.moc"
