#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "CryptoUtil.h"
#include "DevServiceProcess.h"
#include "HttpsFetch.h"
#include "SealingKey.h"
#include "VirtualDisplay.h"

// The built OrvelLauncher driven as a user would: a real X server (Xvfb), the development service over HTTPS on
// loopback, the real copy manager, the stand-in application, a stand-in browser and xdotool for the clicks.
namespace {

const QString kBin = QStringLiteral(ORVEL_BIN_DIR);

// Points inside the 1000 x 640 window: the install bar sits at 300, 540 (400 x 100), the close button at 699, 609.
const QPoint kSignInButton(300 + 28 + 120, 540 + 30 + 20);
const QPoint kPlayButton(300 + 30 + 170, 540 + 30 + 20);
const QPoint kQuitButton(699 + 15, 609 + 15);

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Same files with the same bytes in both trees, the install manifest aside.
bool sameFiles(const QString& a, const QString& b)
{
    return QProcess::execute("diff", {"-r", "-q", "--exclude=liveupdate.json", a, b}) == 0;
}

// A running program whose error output (the launcher's diagnostics) is collected while the test waits.
struct Program
{
    QProcess process;
    QByteArray err;

    Program()
    {
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { err += process.readAllStandardError(); });
    }
    ~Program()
    {
        process.kill(); // whatever still runs when a case ends
        process.waitForFinished(5000);
    }
    bool waitForError(const QByteArray& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return err.contains(text); }, timeoutMs);
    }
    bool exitsCleanly(int timeoutMs)
    {
        (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        err += process.readAllStandardError();
        return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};

} // namespace

class tst_LauncherEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void freshInstallUpdatesSignsInAndPlays();
    void storedSignInStartsApplicationWithoutWindow();
    void newerLauncherShowsNoticeThenConnectPage();
    void quitDuringDownloadCancelsIt();
    void secondCopyExitsAtOnce_data();
    void secondCopyExitsAtOnce();
    void unreachableServiceReportsUnstableNetwork();

private:
    // One user's machine: home, settings, private temporary folder, install folder and a browser log.
    bool prepareSession(const QString& installedBuild);
    QString path(const QString& relative) const { return QDir(m_session->path()).filePath(relative); }
    bool startService(const QStringList& extraArguments = {});
    QProcessEnvironment launcherEnvironment() const;
    void startLauncher(Program& launcher);
    void writeAppSetting(const QString& key, const QVariant& value);
    QString installedVersion() const;
    void expectApplicationStartedAs(Program& launcher, const QByteArray& email);

    // X helpers.
    QString findWindow(const QString& title);
    QString waitForWindow(const QString& title, int timeoutMs);
    void click(const QString& window, const QPoint& inside);
    void clickOk(const QString& dialog);

    VirtualDisplay m_display;
    QTemporaryDir m_root;
    QString m_builds;
    std::unique_ptr<QTemporaryDir> m_session;
    std::unique_ptr<OrvelTest::DevServiceProcess> m_service;
    QMap<QString, QString> m_serviceInfo;
};

void tst_LauncherEndToEnd::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(), "xdotool is missing (scripts/setup)");
    QVERIFY2(m_display.start(), qPrintable(m_display.error()));
    m_builds = m_root.filePath("builds");
    QCOMPARE(QProcess::execute(QStringLiteral(ORVEL_SOURCE_DIR "/devkit/make-builds"), {"--bin", kBin, m_builds}), 0);
}

void tst_LauncherEndToEnd::init()
{
    // The launcher refuses to start beside a running launcher or application, whoever started them; the application
    // may still be showing from the previous case and ends by itself.
    QByteArray running;
    (void)QTest::qWaitFor(
        [&] {
            QProcess pgrep;
            pgrep.start("pgrep", {"-x", "-l", "Orvel(Launcher)?"});
            pgrep.waitForFinished(5000);
            return (running = pgrep.readAllStandardOutput().trimmed()).isEmpty();
        },
        60000);
    QVERIFY2(running.isEmpty(),
             "already running on this machine, so the launcher would refuse to start: " + running.replace('\n', ", "));
}

void tst_LauncherEndToEnd::cleanup()
{
    if (QTest::currentTestFailed() && m_service)
        qInfo().noquote() << "service log:\n" << m_service->accessLog().right(4000);
    m_service.reset();
    m_serviceInfo.clear();
    m_session.reset();
}

bool tst_LauncherEndToEnd::prepareSession(const QString& installedBuild)
{
    m_session = std::make_unique<QTemporaryDir>();
    for (const char* folder : {"home", "config", "tmp", "runtime", "install/App"})
        QDir(m_session->path()).mkpath(folder);
    QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeAppSetting("OrvelPath", path("install"));
    const QString build = m_builds + "/" + installedBuild;
    if (QProcess::execute("cp", {"-a", build + "/.", path("install/App")}) != 0)
        return false;
    QProcess manifest;
    manifest.setStandardOutputFile(path("install/App/liveupdate.json"));
    manifest.start(kBin + "/OrvelDevService", {"--manifest", installedBuild + "=" + build});
    return manifest.waitForFinished(20000) && manifest.exitCode() == 0;
}

bool tst_LauncherEndToEnd::startService(const QStringList& extraArguments)
{
    m_service = std::make_unique<OrvelTest::DevServiceProcess>();
    if (!m_service->start(m_root.filePath("service-state"), QStringList{"--publish", "1.0=" + m_builds + "/1.0",
                                                                        "--publish", "1.1=" + m_builds + "/1.1"} +
                                                                extraArguments)) {
        qWarning().noquote() << m_service->failure();
        return false;
    }
    for (const char* key :
         {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL", "ORVEL_CONNECT_URL", "ORVEL_CA_CERTIFICATES"})
        m_serviceInfo.insert(key, m_service->value(key));
    return true;
}

QProcessEnvironment tst_LauncherEndToEnd::launcherEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_SCALE_FACTOR", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        env.remove(name);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", m_display.name());
    env.insert("HOME", path("home"));
    env.insert("XDG_CONFIG_HOME", path("config"));
    env.insert("XDG_RUNTIME_DIR", path("runtime"));
    env.insert("TMPDIR", path("tmp"));
    const QString browser = QStringLiteral(ORVEL_SOURCE_DIR "/tests/e2e/browser");
    env.insert("PATH", browser + ":" + env.value("PATH"));
    env.insert("BROWSER", browser + "/xdg-open");
    env.insert("ORVEL_BROWSER_LOG", path("browser.log"));
    env.insert("ORVEL_BROWSER_EMAIL", "e2e@example.com");
    for (auto it = m_serviceInfo.begin(); it != m_serviceInfo.end(); ++it)
        env.insert(it.key(), it.value());
    env.insert("ORVEL_BROWSER_CA", m_serviceInfo.value("ORVEL_CA_CERTIFICATES"));
    env.insert("ORVEL_APP_EXIT_AFTER_MS", "1500");
    return env;
}

void tst_LauncherEndToEnd::startLauncher(Program& launcher)
{
    launcher.process.setProcessEnvironment(launcherEnvironment());
    launcher.process.setWorkingDirectory(m_session->path());
    // The application inherits the launcher's output and outlives it, so its line is read from a file.
    launcher.process.setStandardOutputFile(path("launcher.out"));
    launcher.process.start(kBin + "/OrvelLauncher", QStringList());
    QVERIFY(launcher.process.waitForStarted(10000));
}

void tst_LauncherEndToEnd::writeAppSetting(const QString& key, const QVariant& value)
{
    // The launcher's ("Orvel", "App") store, as the native format keeps it under its XDG_CONFIG_HOME.
    QSettings(path("config/Orvel/App.conf"), QSettings::IniFormat).setValue(key, value);
}

QString tst_LauncherEndToEnd::installedVersion() const
{
    const QJsonDocument manifest = QJsonDocument::fromJson(fileBytes(path("install/App/liveupdate.json")));
    return manifest.object().value("version").toString();
}

// The launcher ends after starting the application, which prints who it found in the sealed token it was handed.
void tst_LauncherEndToEnd::expectApplicationStartedAs(Program& launcher, const QByteArray& email)
{
    QVERIFY2(launcher.exitsCleanly(20000), launcher.err.constData());
    QVERIFY(launcher.err.contains("Orvel execution success."));
    QVERIFY(!launcher.err.contains("Error dialog"));
    (void)QTest::qWaitFor([&] { return fileBytes(path("launcher.out")).contains("signed in as"); }, 10000);
    const QByteArray line = fileBytes(path("launcher.out"));
    QVERIFY2(line.startsWith("Orvel 1.1: signed in as " + email + " (userId "), line.constData());
}

QString tst_LauncherEndToEnd::findWindow(const QString& title)
{
    const QByteArray ids = m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
    return QString::fromLatin1(ids.split('\n').value(0).trimmed());
}

QString tst_LauncherEndToEnd::waitForWindow(const QString& title, int timeoutMs)
{
    QString window;
    if (QTest::qWaitFor([&] { return !(window = findWindow(title)).isEmpty(); }, timeoutMs))
        QTest::qWait(300); // let the window finish its first paint before clicking
    return window;
}

void tst_LauncherEndToEnd::click(const QString& window, const QPoint& inside)
{
    m_display.run("xdotool", {"mousemove", "--window", window, QString::number(inside.x()), QString::number(inside.y()),
                              "sleep", "0.1", "click", "1"});
}

// The dialog's OK button sits centred near its bottom edge; the dialog's height follows its message.
void tst_LauncherEndToEnd::clickOk(const QString& dialog)
{
    QMap<QString, int> geometry;
    const QByteArray shell = m_display.run("xdotool", {"getwindowgeometry", "--shell", dialog});
    for (const QString& line : QString::fromLatin1(shell).split('\n'))
        geometry.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
    click(dialog, QPoint(geometry.value("WIDTH") / 2, geometry.value("HEIGHT") - 36));
}

void tst_LauncherEndToEnd::freshInstallUpdatesSignsInAndPlays()
{
    QVERIFY(prepareSession("1.0"));
    QVERIFY(startService());
    Program launcher;
    startLauncher(launcher);
    const QString window = waitForWindow("OrvelLauncher", 20000);
    QVERIFY2(!window.isEmpty(), launcher.err.constData());

    // The update runs with the window shown, its install bar on the progress face.
    QVERIFY2(launcher.waitForError("Success for auto-update.", 30000), launcher.err.constData());
    const int shown = launcher.err.indexOf("Window shown");
    QVERIFY(shown >= 0 && shown < launcher.err.indexOf("use thread count:"));
    QCOMPARE(installedVersion(), QStringLiteral("1.1"));
    QVERIFY(sameFiles(path("install/App"), m_builds + "/1.1"));

    // Sign In opens the browser, which signs in; the bar then offers Play.
    QTest::qWait(300);
    click(window, kSignInButton);
    QVERIFY2(launcher.waitForError("successToInstanceLogin", 20000), launcher.err.constData());
    QVERIFY(QTest::qWaitFor([&] { return fileBytes(path("browser.log")).contains("signed in as e2e@"); }, 10000));
    // The sealed token is stored right before the bar turns to Play, after the avatar's requests (whose nested
    // event loops would otherwise take the click on the sign-in face).
    QVERIFY(QTest::qWaitFor([&] { return fileBytes(path("config/Orvel/App.conf")).contains("JWT="); }, 20000));
    QTest::qWait(300);
    click(window, kPlayButton);

    expectApplicationStartedAs(launcher, "e2e@example.com");
}

void tst_LauncherEndToEnd::storedSignInStartsApplicationWithoutWindow()
{
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService());
    // Sign in through the service's form and poll, as the launcher's browser sign-in would.
    const QByteArray instance = "E2eInstance0123456789abcdefghijk";
    const QSslConfiguration ssl = m_service->sslConfiguration();
    OrvelTest::httpsFetch(
        ssl, "POST", m_service->accountUrl() + "Account/Login", {{"Content-Type", "application/x-www-form-urlencoded"}},
        "InstanceId=" + instance + "&client=0&returnUrl=%2Faccount%2Fsignedin&email=stored%40example.com");
    QByteArray token = OrvelTest::httpsFetch(ssl, "POST", m_service->accountUrl() + "api/Accounts/Login/Instance",
                                             {{"Content-Type", "application/json"}, {"api-version", "2.0"}},
                                             "{\"client\":0,\"instanceId\":\"" + instance + "\"}")
                           .body.replace('"', "");
    QVERIFY(!token.isEmpty());
    writeAppSetting("StaySignedIn", true);
    writeAppSetting("JWT", Verdant::CryptoUtil().encrypt(token, SealingKey));

    Program launcher;
    startLauncher(launcher);
    bool windowSeen = false;
    (void)QTest::qWaitFor(
        [&] {
            windowSeen = windowSeen || !findWindow("OrvelLauncher").isEmpty();
            return launcher.process.state() == QProcess::NotRunning;
        },
        20000);
    expectApplicationStartedAs(launcher, "stored@example.com");
    QVERIFY(!windowSeen);
    QVERIFY2(!launcher.err.contains("Window shown"), launcher.err.constData());
}

void tst_LauncherEndToEnd::newerLauncherShowsNoticeThenConnectPage()
{
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService({"--launcher-version", "2.1.0"}));
    Program launcher;
    startLauncher(launcher);

    const QString notice = waitForWindow("MiniModal", 20000);
    QVERIFY2(!notice.isEmpty(), launcher.err.constData());
    QVERIFY(!findWindow("OrvelLauncher").isEmpty());
    QVERIFY(!fileBytes(path("browser.log")).contains("/connect")); // only once the notice is closed

    clickOk(notice);
    QVERIFY2(launcher.exitsCleanly(15000), launcher.err.constData());
    QCOMPARE(fileBytes(path("browser.log")).trimmed(), "open " + m_serviceInfo.value("ORVEL_CONNECT_URL").toUtf8());
    QVERIFY2(!launcher.err.contains("Error dialog"), launcher.err.constData());
}

void tst_LauncherEndToEnd::quitDuringDownloadCancelsIt()
{
    // Downloads are redirected to a server that accepts connections and never answers, so they stay in flight.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QVERIFY(prepareSession("1.0"));
    QVERIFY(startService({"--redirect-downloads", QStringLiteral("https://127.0.0.1:%1/").arg(silent.serverPort())}));

    Program launcher;
    startLauncher(launcher);
    const QString window = waitForWindow("OrvelLauncher", 20000);
    QVERIFY2(!window.isEmpty(), launcher.err.constData());
    QVERIFY(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, 10000));

    click(window, kQuitButton);
    QVERIFY2(launcher.exitsCleanly(15000), launcher.err.constData());
    QVERIFY2(launcher.err.contains("Auto-update failed."), launcher.err.constData());
    QVERIFY(!launcher.err.contains("Error dialog"));
    QCOMPARE(installedVersion(), QStringLiteral("1.0"));
    QVERIFY(sameFiles(path("install/App"), m_builds + "/1.0"));
    QVERIFY(!QFileInfo::exists(path("runtime/orvel/OrvelDownload")));
}

void tst_LauncherEndToEnd::secondCopyExitsAtOnce_data()
{
    QTest::addColumn<bool>("applicationFirst");
    QTest::newRow("another launcher") << false;
    QTest::newRow("the application") << true;
}

void tst_LauncherEndToEnd::secondCopyExitsAtOnce()
{
    QFETCH(bool, applicationFirst);
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService());

    Program first;
    if (applicationFirst) {
        QProcessEnvironment env = launcherEnvironment();
        env.insert("ORVEL_APP_EXIT_AFTER_MS", "15000");
        first.process.setProcessEnvironment(env);
        first.process.start(path("install/App/Orvel"), QStringList());
        QVERIFY(first.process.waitForStarted(10000));
    } else {
        startLauncher(first);
        QVERIFY2(!waitForWindow("OrvelLauncher", 20000).isEmpty(), first.err.constData());
    }

    Program second;
    startLauncher(second);
    QVERIFY2(second.exitsCleanly(15000), "the second copy kept running or failed");
    QVERIFY2(!second.err.contains("Window shown"), second.err.constData());
    QCOMPARE(first.process.state(), QProcess::Running);

    if (!applicationFirst) {
        click(findWindow("OrvelLauncher"), kQuitButton);
        QVERIFY2(first.exitsCleanly(15000), first.err.constData());
    }
}

void tst_LauncherEndToEnd::unreachableServiceReportsUnstableNetwork()
{
    // A port that refuses connections: 100 quick attempts, each followed by a 500 ms pause.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    QVERIFY(prepareSession("1.0"));
    m_serviceInfo["ORVEL_UPDATE_SERVICE_URL"] = QStringLiteral("https://127.0.0.1:%1/update/").arg(closedPort);
    m_serviceInfo["ORVEL_ACCOUNT_SERVICE_URL"] = QStringLiteral("https://127.0.0.1:%1/account/").arg(closedPort);
    Program launcher;
    startLauncher(launcher);

    const QString dialog = waitForWindow("MiniModal", 120000);
    QVERIFY2(!dialog.isEmpty(), launcher.err.constData());
    QVERIFY2(launcher.err.contains("Error dialog, code 4 : The network is unstable.\tPlease check your internet "
                                   "connection and try again."),
             launcher.err.constData());
    QVERIFY(launcher.process.state() == QProcess::Running); // the dialog waits for the user

    clickOk(dialog);
    QVERIFY2(launcher.exitsCleanly(15000), launcher.err.constData());
}

QTEST_GUILESS_MAIN(tst_LauncherEndToEnd)
#include "tst_LauncherEndToEnd.moc"
