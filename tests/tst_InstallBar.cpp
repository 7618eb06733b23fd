#include <QtTest>

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>

#include "InstallBar.h"
#include "MainWindowWidgets.h"
#include "OrvelLauncherForm.h"
#include "Profile.h"
#include "TempSettingsHome.h"
#include "UiResources.h"

class tst_InstallBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void faces_data();
    void faces();
    void buttonsEmit_data();
    void buttonsEmit();
    void storedChoiceShownWithoutRewrite_data();
    void storedChoiceShownWithoutRewrite();
    void toggleWritesAtOnce();
    void styleSheetFromTokens();
    void placedOnTheMainWindow();

private:
    QString settingsFile() const { return m_home.configPath() + "/Orvel/App.conf"; }
    QByteArray settingsBytes() const;
    void writeSettings(const QByteArray& bytes) const;

    OrvelTest::TempSettingsHome m_home;
};

void tst_InstallBar::initTestCase()
{
    QVERIFY(m_home.isValid());
    initUiResources();
}

void tst_InstallBar::init()
{
    QFile::remove(settingsFile());
}

QByteArray tst_InstallBar::settingsBytes() const
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_InstallBar::writeSettings(const QByteArray& bytes) const
{
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.flush();
    // The settings store caches files by size and time: give every version its own time.
    static int version = 0;
    QVERIFY(
        file.setFileTime(QDateTime::currentDateTime().addSecs(-100 - ++version), QFileDevice::FileModificationTime));
}

void tst_InstallBar::faces_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("update");
    QTest::addColumn<bool>("signIn");
    QTest::addColumn<bool>("play");

    QTest::newRow("0 progress") << 0 << true << false << false;
    QTest::newRow("1 sign-in") << 1 << false << true << false;
    QTest::newRow("2 play") << 2 << false << false << true;
    QTest::newRow("3 unknown") << 3 << false << false << false;
    QTest::newRow("-1 unknown") << -1 << false << false << false;
}

void tst_InstallBar::faces()
{
    QFETCH(int, mode);
    QFETCH(bool, update);
    QFETCH(bool, signIn);
    QFETCH(bool, play);
    InstallBar bar;
    bar.show();
    // Start from another face so that every frame really changes state.
    bar.setMode(mode == 1 ? 2 : 1);
    bar.setMode(mode);
    QCOMPARE(bar.findChild<QFrame*>("frameUpdate")->isVisible(), update);
    QCOMPARE(bar.findChild<QFrame*>("frameSignIn")->isVisible(), signIn);
    QCOMPARE(bar.findChild<QFrame*>("framePlay")->isVisible(), play);
}

void tst_InstallBar::buttonsEmit_data()
{
    QTest::addColumn<int>("face");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("plays");
    QTest::addColumn<int>("signIns");

    // Three clicks each: Play starts the program once, Sign In opens the browser every time.
    QTest::newRow("play once") << int(InstallBar::PlayFace) << "pbPlay" << 1 << 0;
    QTest::newRow("sign in per click") << int(InstallBar::SignInFace) << "pbSignIn" << 0 << 3;
}

void tst_InstallBar::buttonsEmit()
{
    QFETCH(int, face);
    QFETCH(QString, button);
    QFETCH(int, plays);
    QFETCH(int, signIns);
    InstallBar bar;
    bar.setMode(face);
    bar.show();
    QSignalSpy play(&bar, &InstallBar::doPlay);
    QSignalSpy signIn(&bar, &InstallBar::doSignIn);
    auto* pushButton = bar.findChild<QPushButton*>(button);
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QTest::mouseClick(pushButton, Qt::LeftButton);
    pushButton->click();
    QCOMPARE(play.count(), plays);
    QCOMPARE(signIn.count(), signIns);
    QCOMPARE(bar.size(), QSize(400, 100)); // fixed, whichever face shows
}

void tst_InstallBar::storedChoiceShownWithoutRewrite_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("checked");

    // "1" is not how the settings store writes a boolean, so a write-back would show in the file.
    QTest::newRow("stored true") << QByteArray("[General]\nStaySignedIn=1\n") << true;
    QTest::newRow("stored false") << QByteArray("[General]\nStaySignedIn=0\n") << false;
    QTest::newRow("nothing stored") << QByteArray() << false;
}

void tst_InstallBar::storedChoiceShownWithoutRewrite()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, checked);
    if (!stored.isEmpty())
        writeSettings(stored);

    InstallBar bar;
    QCOMPARE(bar.findChild<QCheckBox*>("cbStaySignedIn")->isChecked(), checked);
    QCOMPARE(settingsBytes(), stored);
    QCOMPARE(QFile::exists(settingsFile()), !stored.isEmpty());
}

void tst_InstallBar::toggleWritesAtOnce()
{
    InstallBar bar;
    bar.setMode(InstallBar::SignInFace);
    bar.show();
    auto* box = bar.findChild<QCheckBox*>("cbStaySignedIn");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2));
    QVERIFY(box->isChecked());
    QCOMPARE(QSettings("Orvel", "App").value("StaySignedIn").toBool(), true);
    QVERIFY(settingsBytes().contains("StaySignedIn=true"));
    box->toggle();
    QVERIFY(settingsBytes().contains("StaySignedIn=false"));
}

void tst_InstallBar::styleSheetFromTokens()
{
    InstallBar bar;
    QCOMPARE(bar.styleSheet(),
             QStringLiteral(
                 "QFrame {background : rgba(168, 172, 255, 255); border-radius: 50px;}"
                 "QPushButton {background: transparent; border: 3px solid rgba(255, 255, 255, 255); border-radius: "
                 "20px; color: rgba(255, 255, 255, 255); font-family : Noto Sans;font-size : 12px;font-weight : 700;}"
                 "QPushButton:hover, QPushButton:pressed {background: rgba(145, 140, 255, 255); border: none;}"
                 "QCheckBox {color: rgba(255, 255, 255, 255); font-family : Noto Sans;font-size : 10px;font-weight : "
                 "600;}"
                 "QCheckBox::indicator { width: 14px; height: 14px; }"
                 "QCheckBox::indicator:checked {image:url(:OrvelLauncher/Resources/Common/Common Icon Checkbox White "
                 "On.svg);}"
                 "QCheckBox::indicator:unchecked {image:url(:OrvelLauncher/Resources/Common/Common Icon Checkbox "
                 "White Off.svg);}"));
    // The relative resource paths of the check-box rules name existing pictures.
    QVERIFY(QFile::exists(":OrvelLauncher/Resources/Common/Common Icon Checkbox White On.svg"));
    QVERIFY(QFile::exists(":OrvelLauncher/Resources/Common/Common Icon Checkbox White Off.svg"));
}

void tst_InstallBar::placedOnTheMainWindow()
{
    QWidget window;
    Ui::OrvelLauncher form;
    form.setupUi(&window);
    const MainWindowWidgets widgets = createMainWindowWidgets(&window);
    // As the launcher does before it shows the window: one face only, so the bar keeps its 100-pixel height.
    widgets.installBar->setMode(InstallBar::UpdateFace);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.size(), QSize(1000, 640));
    QCOMPARE(form.lbBackground->geometry(), QRect(0, 0, 1000, 600));
    QVERIFY(!form.lbBackground->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(widgets.profile->geometry(), QRect(850, 0, 150, 150));
    QCOMPARE(widgets.installBar->geometry(), QRect(300, 540, 400, 100));
    QVERIFY(widgets.installBar->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(widgets.quitButton->geometry(), QRect(699, 609, 30, 30));
    // Stacking: the close button lies over the bar's last pixel column.
    QCOMPARE(window.childAt(699, 620), widgets.quitButton);
}

QTEST_MAIN(tst_InstallBar)
#include "tst_InstallBar.moc"
