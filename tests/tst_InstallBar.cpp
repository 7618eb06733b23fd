#include <QtTest>

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>

#include "InstallBar.h"
#include "TempSettingsHome.h"
#include "UiResources.h"
#include "UpdateTestFiles.h"

class tst_InstallBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        initUiResources();
    }

    void faces_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("shown");

        QTest::newRow("0 progress") << 0 << "frameUpdate";
        QTest::newRow("1 sign-in") << 1 << "frameSignIn";
        QTest::newRow("2 play") << 2 << "framePlay";
        QTest::newRow("3 unknown: none") << 3 << "";
    }

    void faces()
    {
        QFETCH(int, mode);
        QFETCH(QString, shown);
        InstallBar bar;
        bar.show();
        // Start from another face so that every frame really changes state.
        bar.setMode(mode == 1 ? 2 : 1);
        bar.setMode(mode);
        for (const QString frame : {"frameUpdate", "frameSignIn", "framePlay"})
            QCOMPARE(bar.findChild<QFrame*>(frame)->isVisible(), frame == shown);
    }

    void playEmitsOnce()
    {
        InstallBar bar;
        bar.setMode(InstallBar::PlayFace);
        bar.show();
        QSignalSpy play(&bar, &InstallBar::doPlay);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(bar.findChild<QPushButton*>("pbPlay"), Qt::LeftButton);
        QCOMPARE(play.count(), 1);
    }

    void storedChoiceShownToggleWrites()
    {
        const QString settings = m_home.configPath() + "/Orvel/App.conf";
        // Nothing stored: unchecked, and no file is created.
        QVERIFY(!InstallBar().findChild<QCheckBox*>("cbStaySignedIn")->isChecked());
        QVERIFY(!QFile::exists(settings));

        // "1" is not how the settings store writes a boolean, so a write-back would show in the file.
        UpdateTest::writeFile(settings, "[General]\nStaySignedIn=1\n");
        InstallBar bar;
        bar.setMode(InstallBar::SignInFace);
        bar.show();
        auto* box = bar.findChild<QCheckBox*>("cbStaySignedIn");
        QVERIFY(box->isChecked());
        QCOMPARE(UpdateTest::readFile(settings), QByteArray("[General]\nStaySignedIn=1\n"));

        // Each change is written at once.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2));
        QVERIFY(UpdateTest::readFile(settings).contains("StaySignedIn=false"));
        box->toggle();
        QVERIFY(UpdateTest::readFile(settings).contains("StaySignedIn=true"));
    }

    void styleSheetPicturesExist()
    {
        // The sheet names its check-box pictures by relative resource paths.
        int pictures = 0;
        for (auto it = QRegularExpression("image:url\\(([^)]*)\\)").globalMatch(InstallBar().styleSheet());
             it.hasNext(); ++pictures) {
            const QString path = it.next().captured(1);
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
        QCOMPARE(pictures, 2);
    }

private:
    OrvelTest::TempSettingsHome m_home;
};

QTEST_MAIN(tst_InstallBar)
#include "tst_InstallBar.moc"
