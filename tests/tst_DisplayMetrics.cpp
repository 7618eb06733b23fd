#include <QtTest>

#include "Platform.h"
#include "VirtualDisplay.h"

// The X11 measurement of the primary display: the mode in physical pixels, the layout size from the desktop's scale.
class tst_DisplayMetrics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void measured_data();
    void measured();
    void unknownWithoutDisplay_data();
    void unknownWithoutDisplay();

private:
    VirtualDisplay m_display{QStringLiteral("1600x900x24")};
};

void tst_DisplayMetrics::initTestCase()
{
    QVERIFY2(m_display.start(), qPrintable(m_display.error()));
}

void tst_DisplayMetrics::measured_data()
{
    QTest::addColumn<QString>("resources");
    QTest::addColumn<QSize>("logical");

    QTest::newRow("no desktop scale") << QString() << QSize(1600, 900);
    QTest::newRow("96 dpi") << QStringLiteral("Xft.dpi: 96") << QSize(1600, 900);
    QTest::newRow("120 dpi is 125%") << QStringLiteral("Xft.dpi: 120") << QSize(1280, 720);
    QTest::newRow("144 dpi is 150%") << QStringLiteral("Xft.dpi:\t144") << QSize(1067, 600);
    QTest::newRow("192 dpi is 200%") << QStringLiteral("Xft.dpi: 192") << QSize(800, 450);
    QTest::newRow("nonsense dpi is ignored") << QStringLiteral("Xft.dpi: lots") << QSize(1600, 900);
    QTest::newRow("other resources only") << QStringLiteral("Xcursor.size: 48") << QSize(1600, 900);
}

void tst_DisplayMetrics::measured()
{
    QFETCH(QString, resources);
    QFETCH(QSize, logical);

    QVERIFY(m_display.loadResources(resources));
    qputenv("DISPLAY", m_display.name().toLatin1());
    const Platform::DisplayMetrics metrics = Platform::primaryDisplayMetrics();
    QVERIFY(metrics.known);
    QCOMPARE(metrics.physical, QSize(1600, 900));
    QCOMPARE(metrics.logical, logical);
}

void tst_DisplayMetrics::unknownWithoutDisplay_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::newRow("no DISPLAY") << QByteArray();
    QTest::newRow("a display nobody serves") << QByteArray(":4711");
}

void tst_DisplayMetrics::unknownWithoutDisplay()
{
    QFETCH(QByteArray, display);
    if (display.isEmpty())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
    const Platform::DisplayMetrics metrics = Platform::primaryDisplayMetrics();
    QVERIFY(!metrics.known);
}

QTEST_GUILESS_MAIN(tst_DisplayMetrics)
#include "tst_DisplayMetrics.moc"
