#include <QtTest>

#include <QBuffer>
#include <QLabel>
#include <QPainter>

#include "LauncherArtwork.h"
#include "OrvelLauncherForm.h"
#include "TestHttpsServer.h"
#include "UiResources.h"

using namespace OrvelTest;

namespace {

// The window's workers cancel their requests on the window's abortReply().
class Window : public QWidget
{
    Q_OBJECT
signals:
    void abortReply();
};

// 200 x 50: red left half, blue right half.
QByteArray twoHalvesPng()
{
    QImage picture(200, 50, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, 100, 50, Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    return buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG") ? png : QByteArray();
}

} // namespace

class tst_LauncherArtwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void quotedAddress();
    void stretchedOverTheBackground();
    void unreachableServiceKeepsBuiltInBackground();

private:
    QString base() const { return m_server.urlText("account/"); }
    static QImage shown(const QLabel* label)
    {
        return label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
    }

    TestHttpsServer m_server;
    Window m_window;
    Ui::OrvelLauncher m_form;
};

void tst_LauncherArtwork::initTestCase()
{
    initUiResources();
    QVERIFY(m_server.start());
    m_form.setupUi(&m_window);
    m_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    QCOMPARE(m_form.lbBackground->size(), QSize(1000, 600));
}

void tst_LauncherArtwork::init()
{
    m_server.clearRequests();
    m_form.lbBackground->setPixmap(QPixmap(":/OrvelLauncher/Resources/Launcher/Launcher BG.png"));
}

void tst_LauncherArtwork::quotedAddress()
{
    // Quotes are removed anywhere, not only around the text.
    m_server.setRoute("/account/api/Orvel/LauncherArtwork", TestReply::json("\"https://cdn.example/a\"rt.png\""));
    QCOMPARE(LauncherArtwork::artworkUrl(&m_window, base()), QUrl("https://cdn.example/art.png"));
    const QList<TestRequest> requests = m_server.requests("/account/api/Orvel/LauncherArtwork");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("GET"));
    QVERIFY(!requests.first().hasHeader("Authorization"));
}

void tst_LauncherArtwork::stretchedOverTheBackground()
{
    m_server.setRoute("/account/api/Orvel/LauncherArtwork",
                      TestReply::json("\"" + m_server.urlText("art/launcher.png").toUtf8() + "\""));
    m_server.setRoute("/art/launcher.png", TestReply::text(200, twoHalvesPng(), "image/png"));
    QVERIFY(LauncherArtwork::loadArtwork(m_form.lbBackground, &m_window, base()));

    const QImage image = shown(m_form.lbBackground);
    QCOMPARE(image.size(), QSize(1000, 600));
    // Stretched, not letterboxed: each half of the picture covers half of the label, top to bottom.
    for (QPoint p : {QPoint(0, 0), QPoint(499, 300), QPoint(10, 599)})
        QCOMPARE(image.pixel(p), qRgb(255, 0, 0));
    for (QPoint p : {QPoint(999, 0), QPoint(500, 300), QPoint(990, 599)})
        QCOMPARE(image.pixel(p), qRgb(0, 0, 255));
    QCOMPARE(m_server.requestCount("/art/launcher.png"), 1);
}

void tst_LauncherArtwork::unreachableServiceKeepsBuiltInBackground()
{
    // A port that was just free: nothing listens there.
    QString closedBase;
    {
        TestHttpsServer closed;
        QVERIFY(closed.start());
        closedBase = closed.urlText("account/");
    }
    const QImage before = shown(m_form.lbBackground);
    QVERIFY(!before.isNull());
    QVERIFY(!LauncherArtwork::loadArtwork(m_form.lbBackground, &m_window, closedBase));
    QCOMPARE(shown(m_form.lbBackground), before);
}

QTEST_MAIN(tst_LauncherArtwork)
#include "tst_LauncherArtwork.moc"
