#include <QtTest>

#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QSvgWidget>

#include "AccountSession.h"
#include "Profile.h"
#include "ScreenScale.h"
#include "TestHttpsServer.h"
#include "TestToken.h"
#include "UiResources.h"

using namespace OrvelTest;

class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wideAndTallPhotosCroppedToTheirCentre_data();
    void wideAndTallPhotosCroppedToTheirCentre();
    void shownRoundAt120_data();
    void shownRoundAt120();
    void startsWithADefaultAvatar();
    void layersAndBackdrop();
    void refreshAvatar_data();
    void refreshAvatar();

private:
    static QLabel* avatarLabel(Profile& profile);
    static QImage shownImage(Profile& profile);

    TestHttpsServer m_server;
};

namespace {

// Three vertical or horizontal bands: red | green | blue, the green band square and central.
QImage bands(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::green);
    QPainter painter(&image);
    const bool wide = size.width() > size.height();
    const int side = qMin(size.width(), size.height());
    const int margin = (qMax(size.width(), size.height()) - side) / 2;
    if (wide) {
        painter.fillRect(0, 0, margin, side, Qt::red);
        painter.fillRect(margin + side, 0, margin, side, Qt::blue);
    } else {
        painter.fillRect(0, 0, side, margin, Qt::red);
        painter.fillRect(0, margin + side, side, margin, Qt::blue);
    }
    return image;
}

} // namespace

void tst_Profile::initTestCase()
{
    initUiResources();
    QVERIFY(m_server.start());
}

QLabel* tst_Profile::avatarLabel(Profile& profile)
{
    // The label is the profile's only direct QLabel child.
    return profile.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
}

void tst_Profile::wideAndTallPhotosCroppedToTheirCentre_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("300 x 200") << QSize(300, 200);
    QTest::newRow("200 x 300") << QSize(200, 300);
    QTest::newRow("odd difference 301 x 200") << QSize(301, 200);
}

void tst_Profile::wideAndTallPhotosCroppedToTheirCentre()
{
    QFETCH(QSize, size);
    const QImage round = Profile::roundAvatar(bands(size));
    QCOMPARE(round.size(), QSize(200, 200));
    QCOMPARE(round.format(), QImage::Format_ARGB32);

    // Corners outside the circle are transparent, the centre opaque.
    for (QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 199), QPoint(199, 199), QPoint(20, 20)})
        QCOMPARE(qAlpha(round.pixel(corner)), 0);
    QCOMPARE(round.pixel(100, 100), qRgba(0, 255, 0, 255));
    // Only the central square is used: no red or blue anywhere, even at the circle's edge.
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            const QRgb p = round.pixel(x, y);
            if (qAlpha(p) == 0)
                continue;
            QVERIFY2(qRed(p) == 0 && qBlue(p) == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
        }
    }
    // The circle reaches the square's edges in the middle of each side.
    QVERIFY(qAlpha(round.pixel(100, 0)) > 0);
    QVERIFY(qAlpha(round.pixel(0, 100)) > 0);
}

void tst_Profile::shownRoundAt120_data()
{
    QTest::addColumn<QSize>("size"); // of a picture with a green centre; empty: a null image
    QTest::newRow("300 x 200 photo") << QSize(300, 200);
    QTest::newRow("1 x 1 image still fills 120") << QSize(1, 1);
    QTest::newRow("null image leaves no picture") << QSize();
}

void tst_Profile::shownRoundAt120()
{
    QFETCH(QSize, size);
    Profile profile;
    QVERIFY(!avatarLabel(profile)->pixmap(Qt::ReturnByValue).isNull());
    profile.setAvatarImage(size.isEmpty() ? QImage() : bands(size));
    const QPixmap pixmap = avatarLabel(profile)->pixmap(Qt::ReturnByValue);
    if (size.isEmpty()) {
        QVERIFY(pixmap.isNull());
        return;
    }
    QCOMPARE(pixmap.size(), QSize(120, 120) * screenScale());
    if (size.width() < 2)
        return; // a single pixel cannot hold a circle
    const QImage shown = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(shown.pixel(shown.width() - 1, shown.height() - 1)), 0);
    QCOMPARE(shown.pixel(shown.width() / 2, shown.height() / 2), qRgba(0, 255, 0, 255));
}

void tst_Profile::startsWithADefaultAvatar()
{
    // Either built-in picture, made round: its centre shows the picture, its corners nothing.
    const QImage boy = Profile::roundAvatar(QImage(":/OrvelLauncher/Resources/Launcher/Launcher User Boy.png"));
    const QImage girl = Profile::roundAvatar(QImage(":/OrvelLauncher/Resources/Launcher/Launcher User Girl.png"));
    QCOMPARE(boy.size(), QSize(1024, 1024));
    QCOMPARE(girl.size(), QSize(1024, 1024));
    QSet<QRgb> seen;
    for (int i = 0; i < 40 && seen.size() < 2; ++i) {
        Profile profile;
        const QImage shown = avatarLabel(profile)->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(shown.size(), QSize(120, 120));
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
        seen.insert(shown.pixel(60, 115)); // the shoulders: a different colour in each picture
    }
    QCOMPARE(seen.size(), 2); // both pictures occur (chance of a miss: 2 in 2^40)
}

void tst_Profile::layersAndBackdrop()
{
    Profile profile;
    QCOMPARE(profile.size(), QSize(150, 150));
    QLabel* label = avatarLabel(profile);
    auto* backdrop = profile.findChild<QSvgWidget*>("bgWidget");
    const QList<QSvgWidget*> svgs = profile.findChildren<QSvgWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(svgs.size(), 2);
    QSvgWidget* badge = svgs.at(0) == backdrop ? svgs.at(1) : svgs.at(0);
    QCOMPARE(label->geometry(), QRect(20, 10, 120, 120));
    QCOMPARE(badge->geometry(), QRect(90, 90, 50, 50));
    QVERIFY(badge->renderer()->isValid());
    QCOMPARE(backdrop->renderer()->defaultSize(), QSize(150, 150));
    // The badge lies on top of the picture.
    profile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&profile));
    QCOMPARE(profile.childAt(120, 120), badge);
    QCOMPARE(profile.childAt(40, 40), label);
}

QImage tst_Profile::shownImage(Profile& profile)
{
    return avatarLabel(profile)->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}

void tst_Profile::refreshAvatar_data()
{
    QTest::addColumn<int>("recordStatus");
    QTest::addColumn<QByteArray>("record"); // "PHOTO" stands for the photo's address on the test server
    QTest::addColumn<int>("photoStatus");
    QTest::addColumn<QByteArray>("photo"); // "PNG" stands for a 300 x 200 magenta picture
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("photoRequests");

    QTest::newRow("photo shown") << 200 << QByteArray("{\"photo\":\"PHOTO\"}") << 200 << QByteArray("PNG") << true << 1;
    QTest::newRow("no photo member, no second request")
        << 200 << QByteArray("{\"name\":\"Ana\"}") << 200 << QByteArray("PNG") << false << 0;
    QTest::newRow("record refused") << 404 << QByteArray("{\"photo\":\"PHOTO\"}") << 200 << QByteArray("PNG") << false
                                    << 0;
    QTest::newRow("record not JSON") << 200 << QByteArray("photo") << 200 << QByteArray("PNG") << false << 0;
    QTest::newRow("photo missing") << 200 << QByteArray("{\"photo\":\"PHOTO\"}") << 404 << QByteArray("PNG") << false
                                   << 1;
    QTest::newRow("photo empty") << 200 << QByteArray("{\"photo\":\"PHOTO\"}") << 200 << QByteArray() << false << 1;
    QTest::newRow("photo not a picture") << 200 << QByteArray("{\"photo\":\"PHOTO\"}") << 200 << QByteArray("<html>")
                                         << false << 1;
}

void tst_Profile::refreshAvatar()
{
    QFETCH(int, recordStatus);
    QFETCH(QByteArray, record);
    QFETCH(int, photoStatus);
    QFETCH(QByteArray, photo);
    QFETCH(bool, shown);
    QFETCH(int, photoRequests);

    QByteArray png;
    {
        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(Qt::magenta);
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
    }
    record.replace("PHOTO", m_server.urlText("photos/7.png").toUtf8());
    m_server.clearRequests();
    m_server.setRoute("/account/api/PCS/Users/7", TestReply::json(record, recordStatus));
    m_server.setRoute("/photos/7.png", TestReply::text(photoStatus, photo == "PNG" ? png : photo, "image/png"));
    AccountSession::instance()->setToken(makeTestToken("{\"userId\":7}"));

    Profile profile;
    const QImage before = shownImage(profile);
    profile.refreshAvatar(m_server.urlText("account/"));

    QCOMPARE(m_server.requestCount("/account/api/PCS/Users/7"), 1);
    QCOMPARE(m_server.requestCount("/photos/7.png"), photoRequests);
    const QImage after = shownImage(profile);
    if (shown) {
        QCOMPARE(after.pixel(after.width() / 2, after.height() / 2), qRgba(255, 0, 255, 255));
        QCOMPARE(qAlpha(after.pixel(0, 0)), 0);
        // The photo is fetched as it is, without the account headers.
        const TestRequest photoRequest = m_server.requests("/photos/7.png").first();
        QVERIFY(!photoRequest.hasHeader("Authorization") && !photoRequest.hasHeader("api-version"));
    } else {
        QCOMPARE(after, before);
    }
}

QTEST_MAIN(tst_Profile)
#include "tst_Profile.moc"
