#include <QtTest>

#include <QLabel>

#include "ProgressBarWidget.h"
#include "UiResources.h"

using Reports = QList<qlonglong>; // pairs: received, total

class tst_ProgressBarWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void text_data();
    void text();
    void fillFromPaintedPixels_data();
    void fillFromPaintedPixels();
};

namespace {

constexpr qlonglong MB = 1 << 20;

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

void tst_ProgressBarWidget::initTestCase()
{
    initUiResources();
}

void tst_ProgressBarWidget::text_data()
{
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QString>("text");

    QTest::newRow("3 MB file done, 1 MB of a 5 MB file")
        << 8 * MB << Reports{3 * MB, 3 * MB, 1 * MB, 5 * MB} << "Downloading.. 4.0 / 8.0MB";
    QTest::newRow("late smaller report keeps the figure")
        << 8 * MB << Reports{3 * MB, 5 * MB, 2 * MB, 5 * MB} << "Downloading.. 3.0 / 8.0MB";
    // Totals from a manifest that disagrees with its files: the figures stay within 0 and the total.
    QTest::newRow("reports beyond the total")
        << 8 * MB << Reports{6 * MB, 6 * MB, 5 * MB, 5 * MB} << "Downloading.. 8.0 / 8.0MB";
    QTest::newRow("total below 0") << -5 * MB << Reports{1 * MB, 2 * MB} << "Downloading.. 0.0 / 0.0MB";
    QTest::newRow("beyond 2 GiB") << 3072 * MB << Reports{2049 * MB, 2049 * MB} << "Downloading.. 2049.0 / 3072.0MB";
    // 16830259 bytes are 16.0499992 MB exactly, but 16830260 once held in single precision: 16.1.
    QTest::newRow("single precision") << 16830259LL << Reports{0, MB} << "Downloading.. 0.0 / 16.1MB";
}

void tst_ProgressBarWidget::text()
{
    QFETCH(qlonglong, total);
    QFETCH(Reports, reports);
    QFETCH(QString, text);

    ProgressBarWidget bar;
    bar.setTotalBytes(total);
    for (int i = 0; i + 1 < reports.size(); i += 2)
        bar.setProgress(reports.at(i), reports.at(i + 1));
    QCOMPARE(bar.text(), text);
    const QList<QLabel*> labels = bar.findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == text; }));
}

void tst_ProgressBarWidget::fillFromPaintedPixels_data()
{
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<qlonglong>("current");
    QTest::addColumn<int>("fillEnd"); // first track column not filled

    QTest::newRow("nothing yet") << 8 * MB << 0LL << 6;
    QTest::newRow("half") << 8 * MB << 4 * MB << 6 + 164;
    QTest::newRow("truncated, not rounded") << 3LL << 2LL << 6 + 218; // 328 * 2 / 3 = 218.67
}

void tst_ProgressBarWidget::fillFromPaintedPixels()
{
    QFETCH(qlonglong, total);
    QFETCH(qlonglong, current);
    QFETCH(int, fillEnd);

    ProgressBarWidget bar;
    bar.setTotalBytes(total);
    if (current)
        bar.setProgress(current, current + 1);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    bar.repaint();
    QCoreApplication::processEvents();
    const QImage image = bar.findChild<QLabel*>("lbBackground")
                             ->pixmap(Qt::ReturnByValue)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(340, 40));

    const int y = 20;
    // The frame's outer ring is opaque; the track between x 6 and 334 shows the fill or stays transparent.
    QCOMPARE(qAlpha(image.pixel(1, y)), 255);
    for (int x = 8; x < fillEnd - 1; ++x)
        QVERIFY2(image.pixel(x, y) == qRgba(255, 255, 255, 255), qPrintable(QString::number(x)));
    for (int x = qMax(fillEnd + 1, 8); x < 332; ++x)
        QVERIFY2(qAlpha(image.pixel(x, y)) == 0, qPrintable(QString::number(x)));

    // Painting puts a new picture on the background label; that must not trigger another paint by itself.
    PaintCounter counter;
    bar.installEventFilter(&counter);
    QTest::qWait(300);
    counter.paints = 0;
    QTest::qWait(300);
    QCOMPARE(counter.paints, 0);
}

QTEST_MAIN(tst_ProgressBarWidget)
#include "tst_ProgressBarWidget.moc"
