#include <QtTest>

#include <QLabel>

#include "ProgressBarWidget.h"
#include "UiResources.h"

using Reports = QList<qlonglong>; // pairs: received, total
constexpr qlonglong MB = 1 << 20;

struct CountingBar : ProgressBarWidget
{
    int paints = 0;
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        ProgressBarWidget::paintEvent(event);
    }
};

class tst_ProgressBarWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initUiResources(); }
    void shown_data();
    void shown();
};

void tst_ProgressBarWidget::shown_data()
{
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<Reports>("reports");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fillEnd"); // first track column left unfilled

    QTest::newRow("3 MB file done, 1 MB of a 5 MB file")
        << 8 * MB << Reports{3 * MB, 3 * MB, 1 * MB, 5 * MB} << "Downloading.. 4.0 / 8.0MB" << 6 + 164;
    QTest::newRow("late smaller report keeps the figure")
        << 8 * MB << Reports{3 * MB, 5 * MB, 2 * MB, 5 * MB} << "Downloading.. 3.0 / 8.0MB" << 6 + 123;
    QTest::newRow("fill truncated, not rounded") << 3LL << Reports{2, 5} << "Downloading.. 0.0 / 0.0MB" << 6 + 218;
    // A manifest's total that disagrees with its files: what is shown stays within 0 and the total.
    QTest::newRow("reports beyond the total")
        << 8 * MB << Reports{6 * MB, 6 * MB, 5 * MB, 5 * MB} << "Downloading.. 8.0 / 8.0MB" << 334;
    QTest::newRow("total below 0") << -5 * MB << Reports{1 * MB, 2 * MB} << "Downloading.. 0.0 / 0.0MB" << 6;
    QTest::newRow("beyond 2 GiB") << 3072 * MB << Reports{2048 * MB, 2049 * MB} << "Downloading.. 2048.0 / 3072.0MB"
                                  << 6 + 218;
    // 16830259 bytes are 16.0499992 MB exactly, but 16830260 once held in single precision: 16.1.
    QTest::newRow("single precision") << 16830259LL << Reports{0, MB} << "Downloading.. 0.0 / 16.1MB" << 6;
}

void tst_ProgressBarWidget::shown()
{
    QFETCH(qlonglong, total);
    QFETCH(Reports, reports);
    QFETCH(QString, text);
    QFETCH(int, fillEnd);

    CountingBar bar;
    bar.setTotalBytes(total);
    for (int i = 0; i + 1 < reports.size(); i += 2)
        bar.setProgress(reports.at(i), reports.at(i + 1));
    const QList<QLabel*> labels = bar.findChildren<QLabel*>();
    const auto shows = [&labels](const QString& t) {
        return std::any_of(labels.begin(), labels.end(), [&t](QLabel* l) { return l->text() == t; });
    };
    QVERIFY(shows(text));
    // The installing text stands in for the figures until it is cleared.
    bar.setStatusText("Installing…");
    QVERIFY(shows("Installing…") && !shows(text));
    bar.setStatusText(QString());
    QVERIFY(shows(text));

    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    const QImage image = bar.findChild<QLabel*>("lbBackground")->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(image.size(), QSize(340, 40));
    // The frame's outer ring is opaque; the track between x 6 and 334 shows the fill or stays transparent.
    QCOMPARE(qAlpha(image.pixel(1, 20)), 255);
    for (int x = 8; x < fillEnd - 1; ++x)
        QCOMPARE(image.pixel(x, 20), qRgba(255, 255, 255, 255));
    for (int x = qMax(fillEnd + 1, 8); x < 332; ++x)
        QCOMPARE(qAlpha(image.pixel(x, 20)), 0);

    // A new picture on the background label must not make the widget paint again by itself.
    QTest::qWait(50);
    bar.paints = 0;
    QTest::qWait(150);
    QCOMPARE(bar.paints, 0);
}

QTEST_MAIN(tst_ProgressBarWidget)
#include "tst_ProgressBarWidget.moc"
