#include <QtTest>

#include <QLabel>
#include <QPainter>

#include "AccountSession.h"
#include "Profile.h"
#include "TestHttpsServer.h"
#include "TestToken.h"
#include "UiResources.h"

using namespace OrvelTest;

// Runs with QT_SCALE_FACTOR=2 (see tests/ui.cmake): the avatar must be drawn at the screen's double resolution.
class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refreshAvatar_data();
    void refreshAvatar();

private:
    TestHttpsServer m_server;
};

namespace {

// A PNG picture of `size`: red all around a green square, as wide as its shorter side, in the middle.
QByteArray centredSquare(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    const int side = qMin(size.width(), size.height());
    QPainter(&image).fillRect((size.width() - side) / 2, (size.height() - side) / 2, side, side, Qt::green);
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

void tst_Profile::initTestCase()
{
    initUiResources();
    QVERIFY(m_server.start());
}

void tst_Profile::refreshAvatar_data()
{
    QTest::addColumn<int>("recordStatus");
    QTest::addColumn<QByteArray>("record"); // "PHOTO" stands for the photo's address on the test server
    QTest::addColumn<QByteArray>("photo");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("photoRequests");

    const QByteArray record = "{\"photo\":\"PHOTO\"}";
    const QByteArray wide = centredSquare({300, 200});
    QTest::newRow("wide photo shown") << 200 << record << wide << true << 1;
    QTest::newRow("tall photo shown") << 200 << record << centredSquare({200, 300}) << true << 1;
    QTest::newRow("no photo member, no second request") << 200 << QByteArray("{}") << wide << false << 0;
    QTest::newRow("record refused") << 404 << record << wide << false << 0;
    QTest::newRow("photo not a picture") << 200 << record << QByteArray("<html>") << false << 1;
}

void tst_Profile::refreshAvatar()
{
    QFETCH(int, recordStatus);
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, photo);
    QFETCH(bool, shown);
    QFETCH(int, photoRequests);

    record.replace("PHOTO", m_server.urlText("photos/7.png").toUtf8());
    m_server.clearRequests();
    m_server.setRoute("/account/api/PCS/Users/7", TestReply::json(record, recordStatus));
    m_server.setRoute("/photos/7.png", TestReply::text(200, photo, "image/png"));
    AccountSession::instance()->setToken(makeTestToken("{\"userId\":7}"));

    Profile profile;
    const QImage before = shownPixmap(profile).toImage();
    profile.refreshAvatar(m_server.urlText("account/"));

    QCOMPARE(m_server.requestCount("/account/api/PCS/Users/7"), 1);
    QCOMPARE(m_server.requestCount("/photos/7.png"), photoRequests);
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
        // Only the central square is used: no red anywhere, even at the circle's edge.
        for (int y = 0; y < 240; ++y) {
            for (int x = 0; x < 240; ++x)
                QVERIFY2(qRed(image.pixel(x, y)) == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
        }
        // The photo is fetched as it is, without the account headers.
        const TestRequest photoRequest = m_server.requests("/photos/7.png").first();
        QVERIFY(!photoRequest.hasHeader("Authorization") && !photoRequest.hasHeader("api-version"));
    } else {
        QCOMPARE(after.toImage(), before);
    }
    profile.setAvatarImage(QImage()); // a null image leaves no picture
    QVERIFY(shownPixmap(profile).isNull());
}

QTEST_MAIN(tst_Profile)
#include "tst_Profile.moc"
