// The fetched pictures the window shows: the user's photo in the avatar widget, answered in-process, and the artwork
// over the background label.
#include <QtTest>

#include <QLabel>
#include <QPainter>

#include "AccountSession.h"
#include "InProcessNetwork.h"
#include "LauncherArtwork.h"
#include "NetworkWorker.h"
#include "OrvelLauncherForm.h"
#include "Profile.h"
#include "TestToken.h"
#include "UiResources.h"

using namespace OrvelTest;

namespace {

// A PNG picture of `size`, red with a green rectangle `green`.
QByteArray picture(QSize size, QRect green)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(green, Qt::green);
    QByteArray png;
    QBuffer buffer(&png);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG") ? png : QByteArray();
}

QPixmap shownPixmap(Profile& profile)
{
    // The avatar label is the profile's only direct QLabel child.
    return profile.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)->pixmap(Qt::ReturnByValue);
}

} // namespace

// Runs with QT_SCALE_FACTOR=2 (see tests/ui.cmake): the avatar must be drawn at the screen's double resolution.
class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initUiResources(); }

    void refreshAvatar_data()
    {
        QTest::addColumn<QByteArray>("photo");
        QTest::addColumn<bool>("shown");

        // Only the central square of the photo is used.
        QTest::newRow("wide photo shown") << picture({300, 200}, {50, 0, 200, 200}) << true;
        QTest::newRow("tall photo shown") << picture({200, 300}, {0, 50, 200, 200}) << true;
        QTest::newRow("photo not a picture") << QByteArray("<html>") << false;
    }

    void refreshAvatar()
    {
        QFETCH(QByteArray, photo);
        QFETCH(bool, shown);

        InProcessNetwork network;
        network.setRoute("/api/PCS/Users/7", TestReply::json("{\"photo\":\"https://photos.test/7.png\"}"));
        network.setRoute("/7.png", TestReply::text(200, photo, "image/png"));
        NetworkWorker::setManagerFactory([&network](QObject* parent) { return network.createManager(parent); });
        AccountSession::instance()->setToken(makeTestToken("{\"userId\":7}"));

        Profile profile;
        const QImage before = shownPixmap(profile).toImage();
        profile.refreshAvatar("https://account.test/");
        NetworkWorker::setManagerFactory({});
        QCOMPARE(network.requests().size(), 2);
        const QPixmap after = shownPixmap(profile);
        if (shown) {
            // 120 x 120 at twice the resolution; round: corners transparent, the middle of each side opaque.
            QCOMPARE(after.size(), QSize(240, 240));
            QCOMPARE(after.devicePixelRatio(), 2.0);
            const QImage image = after.toImage().convertToFormat(QImage::Format_ARGB32);
            for (QPoint corner : {QPoint(0, 0), QPoint(239, 0), QPoint(0, 239), QPoint(239, 239), QPoint(24, 24)})
                QCOMPARE(qAlpha(image.pixel(corner)), 0);
            QVERIFY(qAlpha(image.pixel(120, 0)) > 0 && qAlpha(image.pixel(0, 120)) > 0);
            QCOMPARE(image.pixel(120, 120), qRgba(0, 255, 0, 255));
            // No red anywhere, even at the circle's edge.
            for (int y = 0; y < 240; ++y) {
                for (int x = 0; x < 240; ++x)
                    QVERIFY2(qRed(image.pixel(x, y)) == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
            }
        } else {
            QCOMPARE(after.toImage(), before);
        }
        profile.setAvatarImage(QImage()); // a null image leaves no picture
        QVERIFY(shownPixmap(profile).isNull());
    }

    void artworkStretchedOverTheBackground()
    {
        QWidget window;
        Ui::OrvelLauncher form;
        form.setupUi(&window);
        QCOMPARE(form.lbBackground->size(), QSize(1000, 600));

        // Stretched, not letterboxed: each half of the picture covers half of the label, top to bottom.
        LauncherArtwork::showImage(form.lbBackground,
                                   LauncherArtwork::decode(picture({200, 50}, {100, 0, 100, 50}), {1000, 600}));
        const QImage shown =
            form.lbBackground->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), QSize(1000, 600));
        for (QPoint p : {QPoint(0, 0), QPoint(499, 300), QPoint(10, 599)})
            QCOMPARE(shown.pixel(p), qRgb(255, 0, 0));
        for (QPoint p : {QPoint(999, 0), QPoint(500, 300), QPoint(990, 599)})
            QCOMPARE(shown.pixel(p), qRgb(0, 255, 0));

        // Bytes that are no picture leave the label empty.
        LauncherArtwork::showImage(form.lbBackground, LauncherArtwork::decode("not a picture", {1000, 600}));
        QVERIFY(form.lbBackground->pixmap(Qt::ReturnByValue).isNull());
    }
};

QTEST_MAIN(tst_Profile)
#include "tst_Profile.moc"
