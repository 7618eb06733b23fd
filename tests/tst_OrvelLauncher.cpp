#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTextEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "DeploymentSettings.h"
#include "DevServiceProcess.h"
#include "InstallBar.h"
#include "MiniModal.h"
#include "OrvelLauncher.h"
#include "Profile.h"
#include "TempSettingsHome.h"
#include "UiResources.h"

// The window as a whole, in process: what it builds while hidden, where it installs, how it moves, and when it
// shows its error dialog. The service lists a launcher version without a minor number, so every window built
// here records LauncherVersionCheckFailed (5) at once and asks nothing else.
class tst_OrvelLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void builtHiddenWithItsParts();
    void installPath_data();
    void installPath();
    void dragging_data();
    void dragging();
    void errorDialog_data();
    void errorDialog();

private:
    // Every window here ends with an error, so its destructor runs the error dialog: note it and close it.
    void closeDialogs();

    QTimer m_dialogCloser;
    QStringList m_dialogTexts;
    int m_dialogs = 0;
    OrvelTest::TempSettingsHome m_home;
    OrvelTest::DevServiceProcess m_service;
    QTemporaryDir m_dir;
};

void tst_OrvelLauncher::closeDialogs()
{
    auto* dialog = qobject_cast<MiniModal*>(QApplication::activeModalWidget());
    if (!dialog)
        return;
    ++m_dialogs;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        m_dialogTexts << label->text();
    for (QTextEdit* text : dialog->findChildren<QTextEdit*>())
        m_dialogTexts << text->toPlainText();
    dialog->accept();
}

void tst_OrvelLauncher::initTestCase()
{
    initUiResources();
    connect(&m_dialogCloser, &QTimer::timeout, this, &tst_OrvelLauncher::closeDialogs);
    m_dialogCloser.start(20);
    QVERIFY(m_home.isValid());
    QDir(m_dir.path()).mkpath("builds/1.0");
    QFile file(m_dir.filePath("builds/1.0/version.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1.0\n");
    file.close();
    QVERIFY2(m_service.start(m_dir.filePath("state"),
                             {"--launcher-version", "3", "--publish", "1.0=" + m_dir.filePath("builds/1.0")}),
             qPrintable(m_service.failure()));
    qputenv("ORVEL_UPDATE_SERVICE_URL", m_service.updateUrl().toUtf8());
    qputenv("ORVEL_ACCOUNT_SERVICE_URL", m_service.accountUrl().toUtf8());
    qputenv("ORVEL_CONNECT_URL", m_service.connectUrl().toUtf8());
    qputenv("ORVEL_CA_CERTIFICATES", m_service.caCertificatesPath().toUtf8());
    DeploymentSettings::applyToProcess();
}

void tst_OrvelLauncher::builtHiddenWithItsParts()
{
    OrvelLauncher window;
    QVERIFY(!window.isVisible());
    QCOMPARE(window.error(), LauncherVersionCheckFailed);
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(window.size(), QSize(1000, 640));

    auto* bar = window.findChild<InstallBar*>();
    auto* profile = window.findChild<Profile*>();
    QVERIFY(bar && profile);
    QCOMPARE(bar->geometry(), QRect(300, 540, 400, 100));
    QCOMPARE(profile->geometry().topLeft(), QPoint(850, 0));
    QPushButton* quit = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
        quit = button;
    QVERIFY(quit);
    QCOMPARE(quit->geometry(), QRect(699, 609, 30, 30));
    // The progress face is ready before the window is first shown.
    QVERIFY(bar->findChild<QWidget*>("frameUpdate")->isVisibleTo(bar));
    QVERIFY(!bar->findChild<QWidget*>("frameSignIn")->isVisibleTo(bar));
    QVERIFY(!bar->findChild<QWidget*>("framePlay")->isVisibleTo(bar));
}

void tst_OrvelLauncher::installPath_data()
{
    QTest::addColumn<QString>("stored"); // "<dir>" is a folder that exists, "<file>" a file; null: absent
    QTest::addColumn<bool>("storedWins");

    QTest::newRow("absent: the launcher's folder") << QString() << false;
    QTest::newRow("an existing folder") << QStringLiteral("<dir>") << true;
    QTest::newRow("an existing folder with a blank") << QStringLiteral("<dir>/with blank") << true;
    QTest::newRow("a folder that does not exist") << QStringLiteral("<dir>/missing") << false;
    QTest::newRow("a file, not a folder") << QStringLiteral("<file>") << false;
    QTest::newRow("empty text") << QStringLiteral("") << false;
}

void tst_OrvelLauncher::installPath()
{
    QFETCH(QString, stored);
    QFETCH(bool, storedWins);

    QTemporaryDir folder;
    QDir(folder.path()).mkpath("with blank");
    QFile file(folder.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QString value = stored;
    value.replace("<dir>", folder.path()).replace("<file>", folder.filePath("file"));

    OrvelLauncher window;
    {
        QSettings store(QStringLiteral("Orvel"), QStringLiteral("App"));
        if (stored.isNull())
            store.remove("OrvelPath");
        else
            store.setValue("OrvelPath", value);
    }
    const QString own = QDir::fromNativeSeparators(QCoreApplication::applicationDirPath());
    QCOMPARE(window.installPath(), (storedWins ? value : own) + "/App");
}

void tst_OrvelLauncher::dragging_data()
{
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<Qt::MouseButtons>("buttons");
    QTest::addColumn<QPoint>("moved");

    const int d = QApplication::startDragDistance();
    QTest::newRow("a drag moves the window by the cursor's offset")
        << QPoint(160, 140) << Qt::MouseButtons(Qt::LeftButton) << QPoint(60, 40);
    QTest::newRow("less than the drag distance is no drag")
        << QPoint(100 + d - 2, 101) << Qt::MouseButtons(Qt::LeftButton) << QPoint();
    QTest::newRow("exactly the drag distance moves")
        << QPoint(100 + d, 100) << Qt::MouseButtons(Qt::LeftButton) << QPoint(d, 0);
    QTest::newRow("moving without a button pressed does nothing")
        << QPoint(160, 140) << Qt::MouseButtons(Qt::NoButton) << QPoint();
    QTest::newRow("the right button does not drag")
        << QPoint(160, 140) << Qt::MouseButtons(Qt::RightButton) << QPoint();
}

void tst_OrvelLauncher::dragging()
{
    QFETCH(QPoint, to);
    QFETCH(Qt::MouseButtons, buttons);
    QFETCH(QPoint, moved);

    OrvelLauncher window;
    window.move(200, 150);
    const QPoint start = window.geometry().topLeft();
    const QPoint from(100, 100);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&window, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(to), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
    QCOMPARE(window.geometry().topLeft(), start + moved);
}

void tst_OrvelLauncher::errorDialog_data()
{
    QTest::addColumn<bool>("byCloseButton");
    QTest::newRow("the flow ends with an error") << false;
    QTest::newRow("the user pressed the close button") << true;
}

void tst_OrvelLauncher::errorDialog()
{
    QFETCH(bool, byCloseButton);

    auto* window = new OrvelLauncher;
    QPushButton* quit = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly))
        quit = button;
    QVERIFY(quit);
    // As in the program: the flow runs inside the event loop, which the quit ends.
    QTimer::singleShot(0, window, [&] {
        if (byCloseButton) {
            window->show();
            quit->click();
        } else {
            window->startFlow(); // an error is recorded: the window shows and quits
        }
    });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(window->isVisible());
    m_dialogs = 0;
    m_dialogTexts.clear();
    delete window;
    const QString shown = m_dialogTexts.join('|');

    if (byCloseButton) {
        QCOMPARE(m_dialogs, 0);
    } else {
        QCOMPARE(m_dialogs, 1);
        QVERIFY2(m_dialogTexts.contains("ErrorCode5"), qPrintable(shown));
        QVERIFY2(shown.contains("Failed to check Launcher version."), qPrintable(shown));
    }
}

QTEST_MAIN(tst_OrvelLauncher)
#include "tst_OrvelLauncher.moc"
