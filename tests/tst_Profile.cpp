#include <QtTest>

#include <QLabel>
#include <QPainter>

#include "AccountSession.h"
#include "Profile.h"
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
    void shownRoundAt120();
    void refreshAvatar_data();
    void refreshAvatar();

private:
    static QLabel* avatarLabel(Profile& profile);
    static QImage shownImage(Profile& profile);

    TestHttpsServer m_server;
};

namespace {

// Red all around a green square, as wide as the picture's shorter side, in the middle.
QImage centredSquare(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    const int side = qMin(size.width(), size.height());
    const QRect square((size.width() - side) / 2, (size.height() - side) / 2, side, side);
    QPainter(&image).fillRect(square, Qt::green);
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
}

void tst_Profile::wideAndTallPhotosCroppedToTheirCentre()
{
    QFETCH(QSize, size);
    const QImage round = Profile::roundAvatar(centredSquare(size));
    QCOMPARE(round.size(), QSize(200, 200));

    // Corners outside the circle are transparent, the centre and the middle of each side opaque.
    for (QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 199), QPoint(199, 199), QPoint(20, 20)})
        QCOMPARE(qAlpha(round.pixel(corner)), 0);
    QCOMPARE(round.pixel(100, 100), qRgba(0, 255, 0, 255));
    QVERIFY(qAlpha(round.pixel(100, 0)) > 0 && qAlpha(round.pixel(0, 100)) > 0);
    // Only the central square is used: no red anywhere, even at the circle's edge.
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x)
            QVERIFY2(qRed(round.pixel(x, y)) == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
    }
}

void tst_Profile::shownRoundAt120()
{
    Profile profile;
    profile.setAvatarImage(centredSquare(QSize(300, 200)));
    const QImage shown = shownImage(profile);
    QCOMPARE(shown.size(), QSize(120, 120));
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    QCOMPARE(shown.pixel(60, 60), qRgba(0, 255, 0, 255));
    // A null image leaves no picture.
    profile.setAvatarImage(QImage());
    QVERIFY(avatarLabel(profile)->pixmap(Qt::ReturnByValue).isNull());
}

QImage tst_Profile::shownImage(Profile& profile)
{
    return avatarLabel(profile)->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
}

void tst_Profile::refreshAvatar_data()
{
    QTest::addColumn<int>("recordStatus");
    QTest::addColumn<QByteArray>("record"); // "PHOTO" stands for the photo's address on the test server
    QTest::addColumn<QByteArray>("photo");  // "PNG" stands for a 300 x 200 picture, green in the middle
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("photoRequests");

    const QByteArray record = "{\"photo\":\"PHOTO\"}";
    QTest::newRow("photo shown") << 200 << record << QByteArray("PNG") << true << 1;
    QTest::newRow("no photo member, no second request") << 200 << QByteArray("{}") << QByteArray("PNG") << false << 0;
    QTest::newRow("record refused") << 404 << record << QByteArray("PNG") << false << 0;
    QTest::newRow("photo not a picture") << 200 << record << QByteArray("<html>") << false << 1;
}

void tst_Profile::refreshAvatar()
{
    QFETCH(int, recordStatus);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, photo);
    QFETCH(bool, shown);
    QFETCH(int, photoRequests);

    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && centredSquare(QSize(300, 200)).save(&buffer, "PNG"));
    record.replace("PHOTO", m_server.urlText("photos/7.png").toUtf8());
    m_server.clearRequests();
    m_server.setRoute("/account/api/PCS/Users/7", TestReply::json(record, recordStatus));
    m_server.setRoute("/photos/7.png", TestReply::text(200, photo == "PNG" ? png : photo, "image/png"));
    AccountSession::instance()->setToken(makeTestToken("{\"userId\":7}"));

    Profile profile;
    const QImage before = shownImage(profile);
    profile.refreshAvatar(m_server.urlText("account/"));

    QCOMPARE(m_server.requestCount("/account/api/PCS/Users/7"), 1);
    QCOMPARE(m_server.requestCount("/photos/7.png"), photoRequests);
    const QImage after = shownImage(profile);
    if (shown) {
        QCOMPARE(after.pixel(after.width() / 2, after.height() / 2), qRgba(0, 255, 0, 255));
        // The photo is fetched as it is, without the account headers.
        const TestRequest photoRequest = m_server.requests("/photos/7.png").first();
        QVERIFY(!photoRequest.hasHeader("Authorization") && !photoRequest.hasHeader("api-version"));
    } else {
        QCOMPARE(after, before);
    }
}

QTEST_MAIN(tst_Profile)
#include "tst_Profile.moc"
