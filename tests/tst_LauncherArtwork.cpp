// The fetched artwork over the window's background label.
#include <QBuffer>
#include <QLabel>
#include <QPainter>
#include <QtTest>

#include "LauncherArtwork.h"
#include "OrvelLauncherForm.h"
#include "UiResources.h"

class tst_LauncherArtwork : public QObject
{
    Q_OBJECT

private slots:
    void stretchedOverTheBackground();
};

void tst_LauncherArtwork::stretchedOverTheBackground()
{
    initUiResources();
    QWidget window;
    Ui::OrvelLauncher form;
    form.setupUi(&window);
    QCOMPARE(form.lbBackground->size(), QSize(1000, 600));

    // 200 x 50: red left half, blue right half.
    QImage picture(200, 50, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, 100, 50, Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
    LauncherArtwork::showArtwork(form.lbBackground, png);

    // Stretched, not letterboxed: each half of the picture covers half of the label, top to bottom.
    const QImage shown = form.lbBackground->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(1000, 600));
    for (QPoint p : {QPoint(0, 0), QPoint(499, 300), QPoint(10, 599)})
        QCOMPARE(shown.pixel(p), qRgb(255, 0, 0));
    for (QPoint p : {QPoint(999, 0), QPoint(500, 300), QPoint(990, 599)})
        QCOMPARE(shown.pixel(p), qRgb(0, 0, 255));

    // Bytes that are no picture leave the label empty.
    LauncherArtwork::showArtwork(form.lbBackground, "not a picture");
    QVERIFY(form.lbBackground->pixmap(Qt::ReturnByValue).isNull());
}

QTEST_MAIN(tst_LauncherArtwork)
#include "tst_LauncherArtwork.moc"
