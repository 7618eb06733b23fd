#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "DeploymentSettings.h"
#include "DevServiceProcess.h"
#include "InstallBar.h"
#include "MiniModal.h"
#include "OrvelLauncher.h"
#include "TempSettingsHome.h"
#include "UiResources.h"

// The window as a whole, in process: what it builds while hidden, where it installs and how it moves (the error
// dialog, shown or not, is checked end to end). The service lists a launcher version without a minor number, so every
// window built here records LauncherVersionCheckFailed (5) at once and asks nothing else.
class tst_OrvelLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void builtHiddenOnTheProgressFace();
    void installPath_data();
    void installPath();
    void dragging_data();
    void dragging();

private:
    QTimer m_dialogCloser;
    OrvelTest::TempSettingsHome m_home;
    OrvelTest::DevServiceProcess m_service;
    QTemporaryDir m_dir;
};

void tst_OrvelLauncher::initTestCase()
{
    initUiResources();
    // Every window here ends with an error, so its destructor shows the error dialog: close it.
    connect(&m_dialogCloser, &QTimer::timeout, this, [] {
        if (auto* dialog = qobject_cast<MiniModal*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    m_dialogCloser.start(20);
    QVERIFY(m_home.isValid());
    QDir(m_dir.path()).mkpath("builds/1.0");
    QFile version(m_dir.filePath("builds/1.0/version.txt"));
    QVERIFY(version.open(QIODevice::WriteOnly) && version.write("1.0\n") == 4);
    version.close();
    QVERIFY2(m_service.start(m_dir.filePath("state"),
                             {"--launcher-version", "3", "--publish", "1.0=" + m_dir.filePath("builds/1.0")}),
             qPrintable(m_service.failure()));
    for (const char* key :
         {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL", "ORVEL_CONNECT_URL", "ORVEL_CA_CERTIFICATES"})
        qputenv(key, m_service.value(key).toUtf8());
    DeploymentSettings::applyToProcess();
}

void tst_OrvelLauncher::builtHiddenOnTheProgressFace()
{
    OrvelLauncher window;
    QVERIFY(!window.isVisible());
    QCOMPARE(window.error(), LauncherVersionCheckFailed);
    // The progress face is ready before the window is first shown.
    auto* bar = window.findChild<InstallBar*>();
    QVERIFY(bar);
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
    QTest::newRow("a folder that does not exist") << QStringLiteral("<dir>/missing") << false;
    QTest::newRow("a file, not a folder") << QStringLiteral("<file>") << false;
    QTest::newRow("empty text") << QStringLiteral("") << false;
}

void tst_OrvelLauncher::installPath()
{
    QFETCH(QString, stored);
    QFETCH(bool, storedWins);

    QTemporaryDir folder;
    QVERIFY(QFile(folder.filePath("file")).open(QIODevice::WriteOnly));
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
    const QPoint from(100, 100);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&window, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(to), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
    QCOMPARE(window.geometry().topLeft(), QPoint(200, 150) + moved);
}

QTEST_MAIN(tst_OrvelLauncher)
#include "tst_OrvelLauncher.moc"
