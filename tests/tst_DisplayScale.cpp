#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "DisplayScale.h"
#include "Platform.h"

class tst_DisplayScale : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("QT_SCALE_FACTOR"); }
    void decide_data();
    void decide();
    void storesAndEnvironment_data();
    void storesAndEnvironment();

private:
    QTemporaryDir m_dir;
};

void tst_DisplayScale::decide_data()
{
    QTest::addColumn<QSizeF>("monitor");
    QTest::addColumn<QSizeF>("mode");
    QTest::addColumn<bool>("useAutomaticScale");
    QTest::addColumn<float>("resolutionScale");
    QTest::addColumn<bool>("highResolution");
    QTest::addColumn<bool>("computed");
    QTest::addColumn<float>("scaleFactor");
    QTest::addColumn<QByteArray>("qtScaleFactor");

    // Results worked out by hand for common desktops.
    QTest::newRow("1920x1080 at 125% keeps the system's scaling")
        << QSizeF(1536, 864) << QSizeF(1920, 1080) << false << 1.0f << false << true << 0.8f << QByteArray("1.000000");
    QTest::newRow("1920x1080 at 150% shrinks to two thirds") << QSizeF(1280, 720) << QSizeF(1920, 1080) << false << 1.0f
                                                             << false << true << 0.6666667f << QByteArray("0.666667");
    QTest::newRow("2560x1440 at 100% with ResolutionScale 1.2")
        << QSizeF(2560, 1440) << QSizeF(2560, 1440) << false << 1.2f << true << true << 1.0f << QByteArray("1.200000");

    QTest::newRow("automatic scale only flags a wide display")
        << QSizeF(3840, 2160) << QSizeF(3840, 2160) << true << 1.0f << true << false << 1.0f << QByteArray();

    // The 1980-pixel boundary: strictly wider is high resolution.
    QTest::newRow("1980 wide is not high resolution") << QSizeF(1980, 1080) << QSizeF(1980, 1080) << false << 1.0f
                                                      << false << true << 1.015625f << QByteArray("1.000000");
    QTest::newRow("1981 wide is high resolution") << QSizeF(1981, 1080) << QSizeF(1981, 1080) << false << 1.0f << true
                                                  << true << 0.76191406f << QByteArray("1.000000");

    // The 2560-pixel boundary: up to it the measured ratio decides, beyond it the stored factor.
    QTest::newRow("2560 wide takes the measured ratio")
        << QSizeF(2048, 1440) << QSizeF(2560, 1440) << false << 1.0f << true << true << 0.9f << QByteArray("0.800000");
    QTest::newRow("2561 wide takes the stored factor")
        << QSizeF(2048, 1440) << QSizeF(2561, 1440) << false << 1.0f << true << true << 0.9f << QByteArray("0.900000");
    QTest::newRow("a stored factor that would overflow the mode resets to 1")
        << QSizeF(2600, 200) << QSizeF(2600, 1600) << false << 1.0f << true << true << 0.5772569f
        << QByteArray("1.000000");
    QTest::newRow("the 125% exception ends above 1980 wide")
        << QSizeF(1920, 1080) << QSizeF(2400, 1350) << false << 1.0f << true << true << 0.75f << QByteArray("0.800000");

    // The user's extra factor.
    QTest::newRow("ResolutionScale that would overflow the mode is dropped")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << 0.5f << false << true << 1.0f << QByteArray("1.000000");
    QTest::newRow("ResolutionScale 0 is dropped")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << 0.0f << false << true << 1.0f << QByteArray("1.000000");
    QTest::newRow("negative ResolutionScale leaves the variable unset")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << -1.0f << false << true << 1.0f << QByteArray();

    // Without four positive sizes there is nothing to decide.
    QTest::newRow("zero-height monitor") << QSizeF(1920, 0) << QSizeF(1920, 1080) << false << 1.0f << false << false
                                         << 1.0f << QByteArray();
}

void tst_DisplayScale::decide()
{
    QFETCH(QSizeF, monitor);
    QFETCH(QSizeF, mode);
    QFETCH(bool, useAutomaticScale);
    QFETCH(float, resolutionScale);
    QFETCH(bool, highResolution);
    QFETCH(bool, computed);
    QFETCH(float, scaleFactor);
    QFETCH(QByteArray, qtScaleFactor);

    const DisplayScale d{float(monitor.width()), float(monitor.height()), float(mode.width()), float(mode.height())};
    const DisplayScale::Decision decision = d.decide(useAutomaticScale, resolutionScale);
    QCOMPARE(decision.highResolution, highResolution);
    QCOMPARE(decision.computed, computed);
    if (computed)
        QCOMPARE(decision.scaleFactor, scaleFactor);
    QCOMPARE(decision.qtScaleFactor, qtScaleFactor);
}

void tst_DisplayScale::storesAndEnvironment_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<QVariant>("useAutomaticScale"); // invalid: absent
    QTest::addColumn<QVariant>("resolutionScale");   // invalid: absent
    QTest::addColumn<QStringList>("keysAfter");
    QTest::addColumn<QByteArray>("environment"); // null: unset

    // A 1920x1080 display at 150%: not high resolution, ScaleFactor 2/3.
    QTest::newRow("absent preference means automatic: only flags the display")
        << true << QVariant() << QVariant() << QStringList{"isHighResolutionMonitor"} << QByteArray();
    QTest::newRow("computed scale is stored and exported")
        << true << QVariant(false) << QVariant()
        << QStringList{"ScaleFactor", "isHighResolutionMonitor", "useAutomaticScale"} << QByteArray("0.666667");
    QTest::newRow("user's resolution scale is applied on top")
        << true << QVariant(false) << QVariant(1.5f)
        << QStringList{"ResolutionScale", "ScaleFactor", "isHighResolutionMonitor", "useAutomaticScale"}
        << QByteArray("1.000000");
    QTest::newRow("unknown display touches nothing")
        << false << QVariant(false) << QVariant() << QStringList{"useAutomaticScale"} << QByteArray();
}

void tst_DisplayScale::storesAndEnvironment()
{
    QFETCH(bool, known);
    QFETCH(QVariant, useAutomaticScale);
    QFETCH(QVariant, resolutionScale);
    QFETCH(QStringList, keysAfter);
    QFETCH(QByteArray, environment);

    QSettings store(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".ini"), QSettings::IniFormat);
    if (useAutomaticScale.isValid())
        store.setValue("useAutomaticScale", useAutomaticScale);
    if (resolutionScale.isValid())
        store.setValue("ResolutionScale", resolutionScale);

    Platform::DisplayMetrics m;
    m.known = known;
    m.logical = QSize(1280, 720);
    m.physical = QSize(1920, 1080);
    DisplayScale().applyScalePreference(m, store);

    QStringList keys = store.allKeys();
    keys.sort();
    QCOMPARE(keys, keysAfter);
    if (keys.contains("isHighResolutionMonitor"))
        QCOMPARE(store.value("isHighResolutionMonitor").toFloat(), 0.0f);
    if (keys.contains("ScaleFactor"))
        QCOMPARE(store.value("ScaleFactor").toFloat(), 0.6666667f);
    QCOMPARE(qgetenv("QT_SCALE_FACTOR"), environment);
}

QTEST_GUILESS_MAIN(tst_DisplayScale)
#include "tst_DisplayScale.moc"
