#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTextBrowser>
#include <QtTest>

#include "InstallBar.h"
#include "InstanceLogin.h"
#include "MiniModal.h"
#include "OrvelLauncher.h"
#include "TempSettingsHome.h"
#include "UiResources.h"

// The window in process, without its flow (nothing listens at the service addresses; building the window asks
// nothing). The flow's roads are driven end to end in tst_LauncherEndToEnd.
class tst_OrvelLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initUiResources();
        for (const char* service : {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL"})
            qputenv(service, "https://127.0.0.1:1/");
    }

    void installPath_data()
    {
        // Both mean the launcher's folder; a stored existing folder is where the end-to-end runs install.
        QTest::addColumn<QString>("stored"); // null: absent
        QTest::newRow("absent") << QString();
        QTest::newRow("a file, not a folder") << QCoreApplication::applicationFilePath();
    }

    void installPath()
    {
        QFETCH(QString, stored);
        m_store.setValue("OrvelPath", stored);
        if (stored.isNull())
            m_store.remove("OrvelPath");
        m_store.sync();
        QCOMPARE(OrvelLauncher().installPath(), QCoreApplication::applicationDirPath() + "/App");
    }

    void dragging()
    {
        OrvelLauncher window;
        // Presses at 100, 100 and moves to `to`; answers how far the window moved.
        const auto drag = [&](QPoint to, Qt::MouseButton button) {
            window.move(200, 150);
            QMouseEvent press(QEvent::MouseButtonPress, {}, {100, 100}, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &press);
            QMouseEvent move(QEvent::MouseMove, {}, to, Qt::NoButton, button, Qt::NoModifier);
            QApplication::sendEvent(&window, &move);
            return window.pos() - QPoint(200, 150);
        };
        const int d = QApplication::startDragDistance();
        QCOMPARE(drag({100 + d - 2, 101}, Qt::LeftButton), QPoint()); // less than the drag distance
        QCOMPARE(drag({100 + d, 100}, Qt::LeftButton), QPoint(d, 0)); // the distance: moved by the cursor's offset
        QCOMPARE(drag({160, 140}, Qt::RightButton), QPoint());        // only the left button drags
    }

    void buttonsNamed()
    {
        // The close button shows only a picture; a screen reader needs a name for each button.
        OrvelLauncher window;
        MiniModal dialog(&window, MiniModal::Error, "text", AppNotFound);
        for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&dialog)})
            for (QAbstractButton* button : top->findChildren<QAbstractButton*>())
                QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->objectName()));
    }

    void failureShownAfterTheEventLoop_data()
    {
        QTest::addColumn<bool>("signIn"); // the sign-in times out before Play finds no application
        QTest::addColumn<bool>("closeButton");
        QTest::addColumn<QStringList>("dialog"); // message and info line
        QTest::addColumn<bool>("staySignedIn");  // else the stored token is gone when the launcher ends

        QTest::newRow("play: 9") << false << false << QStringList{"Failed to play Orvel.", "ErrorCode9"} << false;
        QTest::newRow("sign-in, then play: the first stays")
            << true << false << QStringList{"Failed to Sign in.\npoll: <b>HTTP 503</b>.", "ErrorCode13"} << true;
        QTest::newRow("close button: no dialog") << false << true << QStringList() << false;
    }

    void failureShownAfterTheEventLoop()
    {
        QFETCH(bool, signIn);
        QFETCH(bool, closeButton);
        QFETCH(QStringList, dialog);
        QFETCH(bool, staySignedIn);

        m_store.setValue("OrvelPath", QDir::tempPath()); // no application there
        m_store.setValue("StaySignedIn", staySignedIn);
        m_store.setValue("JWT", QByteArray("sealed"));
        m_store.sync();
        OrvelLauncher window;
        QTimer::singleShot(0, &window, [&] {
            if (closeButton)
                window.findChild<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)->click();
            if (signIn)
                emit window.findChild<InstanceLogin*>()->failure({SignInTimeout, "poll: <b>HTTP 503</b>"});
            emit window.findChild<InstallBar*>()->doPlay();
        });
        QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0); // the flow ends the event loop, with no dialog so far
        m_store.sync();
        QCOMPARE(m_store.contains("JWT"), staySignedIn);

        QStringList shown;
        QTimer::singleShot(0, &window, [&] {
            auto* modal = qobject_cast<MiniModal*>(QApplication::activeModalWidget());
            shown << modal->findChild<QTextBrowser*>()->toPlainText() << modal->findChild<QLabel*>("lbInfo")->text();
            modal->accept();
        });
        window.reportFailure();
        QCOMPARE(shown, dialog);
    }

private:
    OrvelTest::TempSettingsHome m_home;
    QSettings m_store{QStringLiteral("Orvel"), QStringLiteral("App")};
};

QTEST_MAIN(tst_OrvelLauncher)
#include "tst_OrvelLauncher.moc"
