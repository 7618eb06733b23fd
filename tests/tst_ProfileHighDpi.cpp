#include <QtTest>

#include <QLabel>

#include "Profile.h"
#include "ScreenScale.h"
#include "UiResources.h"

// Runs with QT_SCALE_FACTOR=2 (see tests/ui.cmake): a screen of device pixel ratio 2.
class tst_ProfileHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void avatarAtDoubleResolution();
};

void tst_ProfileHighDpi::initTestCase()
{
    initUiResources();
    QCOMPARE(screenScale(), 2.0);
}

void tst_ProfileHighDpi::avatarAtDoubleResolution()
{
    Profile profile;
    QImage photo(300, 200, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    profile.setAvatarImage(photo);
    const QPixmap pixmap = profile.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)->pixmap(Qt::ReturnByValue);
    QCOMPARE(pixmap.size(), QSize(240, 240));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
}

QTEST_MAIN(tst_ProfileHighDpi)
#include "tst_ProfileHighDpi.moc"
