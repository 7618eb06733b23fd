#include <QtTest>

#include <QLabel>

#include "ProgressBarWidget.h"
#include "TransferRate.h"
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

    void shown_data()
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

    void shown()
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

    void rate_data()
    {
        QTest::addColumn<Reports>("samples"); // pairs: milliseconds, bytes so far
        QTest::addColumn<qlonglong>("remaining");
        QTest::addColumn<QString>("text");

        QTest::newRow("steady 2 MB/s") << Reports{0, 0, 1000, 2 * MB, 2000, 4 * MB} << 6 * MB << "2.0 MB/s, 0:03 left";
        // 10 MB/s, then 1 MB/s for a second: smoothed over 3 s, the burst fades instead of vanishing.
        QTest::newRow("burst, then slow")
            << Reports{0, 0, 1000, 10 * MB, 2000, 11 * MB} << 15 * MB << "7.4 MB/s, 0:03 left";
        QTest::newRow("reports within 200 ms wait")
            << Reports{0, 0, 100, 5 * MB, 1000, MB} << 0LL << "1.0 MB/s, 0:00 left";
        QTest::newRow("slow: KB/s and hours") << Reports{0, 0, 2000, 100 * 1024} << 400 * MB << "50 KB/s, 2:16:32 left";
        QTest::newRow("one sample: no time left") << Reports{0, 0} << MB << "0 KB/s";
    }

    void rate()
    {
        QFETCH(Reports, samples);
        QFETCH(qlonglong, remaining);
        QFETCH(QString, text);
        TransferRate rate;
        for (int i = 0; i + 1 < samples.size(); i += 2)
            rate.add(samples.at(i + 1), samples.at(i));
        QCOMPARE(ProgressBarWidget::rateText(rate.bytesPerSecond(), rate.secondsLeft(remaining)), text);
    }
};

QTEST_MAIN(tst_ProgressBarWidget)
#include "tst_ProgressBarWidget.moc"
