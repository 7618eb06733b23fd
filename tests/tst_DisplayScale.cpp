#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "DisplayScale.h"
#include "Platform.h"

namespace {
DisplayScale sizes(float monitorW, float monitorH, float modeW, float modeH)
{
    DisplayScale d;
    d.monitorWidth = monitorW;
    d.monitorHeight = monitorH;
    d.modeWidth = modeW;
    d.modeHeight = modeH;
    return d;
}

Platform::DisplayMetrics metrics(int monitorW, int monitorH, int modeW, int modeH)
{
    Platform::DisplayMetrics m;
    m.known = true;
    m.logical = QSize(monitorW, monitorH);
    m.physical = QSize(modeW, modeH);
    return m;
}
} // namespace

class tst_DisplayScale : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void decide_data();
    void decide();
    void storesAndEnvironment_data();
    void storesAndEnvironment();

private:
    QTemporaryDir m_dir;
};

void tst_DisplayScale::init()
{
    qunsetenv("QT_SCALE_FACTOR");
}

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

    // Automatic scaling: only the high-resolution flag is decided.
    QTest::newRow("automatic scale computes nothing")
        << QSizeF(1280, 720) << QSizeF(1920, 1080) << true << 1.0f << false << false << 1.0f << QByteArray();
    QTest::newRow("automatic scale on a wide display still flags it")
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
    QTest::newRow("3840x2160 at 100% enlarges by the stored factor")
        << QSizeF(3840, 2160) << QSizeF(3840, 2160) << false << 1.0f << true << true << 1.5f << QByteArray("1.500000");
    QTest::newRow("a stored factor that would overflow the mode resets to 1")
        << QSizeF(2600, 200) << QSizeF(2600, 1600) << false << 1.0f << true << true << 0.5772569f
        << QByteArray("1.000000");

    // The 125 % exception holds only up to 1980 pixels.
    QTest::newRow("1980 wide at exactly 125% resets to 1") << QSizeF(1584, 864) << QSizeF(1980, 1080) << false << 1.0f
                                                           << false << true << 0.8125f << QByteArray("1.000000");
    QTest::newRow("2400 wide at exactly 125% keeps 0.8")
        << QSizeF(1920, 1080) << QSizeF(2400, 1350) << false << 1.0f << true << true << 0.75f << QByteArray("0.800000");

    // The user's extra factor.
    QTest::newRow("ResolutionScale 2 on a plain 1920 display")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << 2.0f << false << true << 1.0f << QByteArray("2.000000");
    QTest::newRow("ResolutionScale that would overflow the mode is dropped")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << 0.5f << false << true << 1.0f << QByteArray("1.000000");
    QTest::newRow("ResolutionScale 0 is dropped")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << 0.0f << false << true << 1.0f << QByteArray("1.000000");
    QTest::newRow("negative ResolutionScale leaves the variable unset")
        << QSizeF(1920, 1080) << QSizeF(1920, 1080) << false << -1.0f << false << true << 1.0f << QByteArray();

    // Without four positive sizes there is nothing to decide.
    QTest::newRow("unknown display") << QSizeF(0, 0) << QSizeF(0, 0) << false << 1.0f << false << false << 1.0f
                                     << QByteArray();
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

    const DisplayScale d =
        sizes(float(monitor.width()), float(monitor.height()), float(mode.width()), float(mode.height()));
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
    QTest::addColumn<QVariant>("highResolution");
    QTest::addColumn<QVariant>("scaleFactor");
    QTest::addColumn<QByteArray>("environment"); // null: unset

    QTest::newRow("absent preference only flags the display")
        << true << QVariant() << QVariant() << QStringList{"isHighResolutionMonitor"} << QVariant(0.0f) << QVariant()
        << QByteArray();
    QTest::newRow("automatic scale true only flags the display")
        << true << QVariant(true) << QVariant() << QStringList{"isHighResolutionMonitor", "useAutomaticScale"}
        << QVariant(0.0f) << QVariant() << QByteArray();
    QTest::newRow("computed scale is stored and exported")
        << true << QVariant(false) << QVariant()
        << QStringList{"ScaleFactor", "isHighResolutionMonitor", "useAutomaticScale"} << QVariant(0.0f)
        << QVariant(0.6666667f) << QByteArray("0.666667");
    QTest::newRow("user's resolution scale is applied on top")
        << true << QVariant(false) << QVariant(1.5f)
        << QStringList{"ResolutionScale", "ScaleFactor", "isHighResolutionMonitor", "useAutomaticScale"}
        << QVariant(0.0f) << QVariant(0.6666667f) << QByteArray("1.000000");
    QTest::newRow("unknown display touches nothing")
        << false << QVariant(false) << QVariant() << QStringList{"useAutomaticScale"} << QVariant() << QVariant()
        << QByteArray();
}

void tst_DisplayScale::storesAndEnvironment()
{
    QFETCH(bool, known);
    QFETCH(QVariant, useAutomaticScale);
    QFETCH(QVariant, resolutionScale);
    QFETCH(QStringList, keysAfter);
    QFETCH(QVariant, highResolution);
    QFETCH(QVariant, scaleFactor);
    QFETCH(QByteArray, environment);

    QSettings store(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".ini"), QSettings::IniFormat);
    if (useAutomaticScale.isValid())
        store.setValue("useAutomaticScale", useAutomaticScale);
    if (resolutionScale.isValid())
        store.setValue("ResolutionScale", resolutionScale);

    DisplayScale scale;
    Platform::DisplayMetrics m = metrics(1280, 720, 1920, 1080);
    m.known = known;
    scale.applyScalePreference(m, store);

    QStringList keys = store.allKeys();
    keys.sort();
    QCOMPARE(keys, keysAfter);
    if (highResolution.isValid())
        QCOMPARE(store.value("isHighResolutionMonitor").toFloat(), highResolution.toFloat());
    if (scaleFactor.isValid())
        QCOMPARE(store.value("ScaleFactor").toFloat(), scaleFactor.toFloat());
    QCOMPARE(qgetenv("QT_SCALE_FACTOR"), environment);
}

QTEST_GUILESS_MAIN(tst_DisplayScale)
#include "tst_DisplayScale.moc"
