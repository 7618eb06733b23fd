#include <QtTest>

#include "Platform.h"
#include "VirtualDisplay.h"

// The X11 measurement of the primary display: the mode in physical pixels, the layout size from the desktop's scale.
class tst_DisplayMetrics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_display.start(), qPrintable(m_display.error())); }
    void measured_data();
    void measured();
    void unknownWithoutDisplay();

private:
    VirtualDisplay m_display{QStringLiteral("1600x900x24")};
};

void tst_DisplayMetrics::measured_data()
{
    QTest::addColumn<QString>("resources");
    QTest::addColumn<QSize>("logical");

    QTest::newRow("no desktop scale") << QString() << QSize(1600, 900);
    QTest::newRow("144 dpi is 150%, rounded, among other resources")
        << QStringLiteral("Xcursor.size: 48\nXft.dpi:\t144") << QSize(1067, 600);
    QTest::newRow("nonsense dpi is ignored") << QStringLiteral("Xft.dpi: lots") << QSize(1600, 900);
}

void tst_DisplayMetrics::measured()
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

void tst_DisplayMetrics::unknownWithoutDisplay()
{
    qunsetenv("DISPLAY");
    QVERIFY(!Platform::primaryDisplayMetrics().known);
    qputenv("DISPLAY", ":4711"); // a display nobody serves
    QVERIFY(!Platform::primaryDisplayMetrics().known);
}

QTEST_GUILESS_MAIN(tst_DisplayMetrics)
#include "tst_DisplayMetrics.moc"
