#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "AccountFlows.h"
#include "CryptoUtil.h"
#include "DevServiceProcess.h"
#include "VirtualDisplay.h"

// The built OrvelLauncher driven as a user would: a real X server (Xvfb), the development service over HTTPS on
// loopback, the real copy manager, the stand-in application, a stand-in browser and xdotool for the clicks.
namespace {

const QString kBin = QStringLiteral(ORVEL_BIN_DIR);
const QString kSource = QStringLiteral(ORVEL_SOURCE_DIR);

// Points inside the 1000 x 640 window: the install bar sits at 300, 540 (400 x 100), the close button at 699, 609.
const QPoint kSignInButton(300 + 28 + 120, 540 + 30 + 20);
const QPoint kPlayButton(300 + 30 + 170, 540 + 30 + 20);
const QPoint kQuitButton(699 + 15, 609 + 15);

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Relative path -> SHA-256 of every file under `root`.
QMap<QString, QByteArray> treeDigest(const QString& root)
{
    QMap<QString, QByteArray> digest;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        digest.insert(QDir(root).relativeFilePath(path),
                      QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256).toHex());
    }
    return digest;
}

bool copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(path, target))
            return false;
        QFile::setPermissions(target, QFile::permissions(path));
    }
    return true;
}

// A running program whose output is collected while the test waits.
class Program
{
public:
    QProcess process;
    QByteArray out;
    QByteArray err;

    Program()
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { err += process.readAllStandardError(); });
    }
    ~Program() { stop(); }

    bool waitForError(const QByteArray& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return err.contains(text) || process.state() == QProcess::NotRunning; },
                               timeoutMs) &&
               err.contains(text);
    }
    bool waitForEnd(int timeoutMs)
    {
        (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.state() == QProcess::NotRunning;
    }
    int exitCode() const { return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1; }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
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
    bool startService(const QStringList& extraArguments = {});
    QProcessEnvironment launcherEnvironment() const;
    void startLauncher(Program& launcher);
    void writeAppSetting(const QString& key, const QVariant& value);
    QByteArray signInThroughService(const QString& email);

    // X helpers.
    QString waitForWindow(const QString& title, int timeoutMs);
    bool anyWindow(const QString& title);
    QRect windowGeometry(const QString& window);
    void click(const QString& window, const QPoint& inside);

    QByteArray curl(const QStringList& arguments);
    QByteArray applicationOutput() const;
    QString appSettingsPath() const;

    VirtualDisplay m_display;
    QTemporaryDir m_root;
    QString m_builds;
    QString m_state;
    std::unique_ptr<QTemporaryDir> m_session;
    std::unique_ptr<OrvelTest::DevServiceProcess> m_service;
    QMap<QString, QString> m_serviceInfo;
};

void tst_LauncherEndToEnd::initTestCase()
{
    for (const char* program : {"OrvelLauncher", "OrvelDevService", "Orvel", "OrvelFileCopyManager"})
        QVERIFY2(QFileInfo(kBin + "/" + program).isExecutable(), qPrintable(QString(program) + " is not built"));
    QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(), "xdotool is missing (scripts/setup)");
    QVERIFY2(m_display.start(), qPrintable(m_display.error()));

    m_builds = m_root.filePath("builds");
    m_state = m_root.filePath("service-state");
    QProcess make;
    make.setProcessChannelMode(QProcess::ForwardedChannels);
    make.start(kSource + "/devkit/make-builds", {"--bin", kBin, m_builds});
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);
    QVERIFY(QFileInfo::exists(m_builds + "/1.0") && QFileInfo::exists(m_builds + "/1.1"));
}

// The launcher refuses to start beside a running launcher or application, whoever started them.
static QByteArray runningPrograms()
{
    QByteArray found;
    for (const char* name : {"OrvelLauncher", "Orvel"}) {
        QProcess pgrep;
        pgrep.start("pgrep", {"-x", "-l", name});
        if (pgrep.waitForFinished(5000))
            found += pgrep.readAllStandardOutput();
    }
    return found.trimmed();
}

void tst_LauncherEndToEnd::init()
{
    // The application may still be showing from the previous case; it ends by itself.
    QByteArray running;
    (void)QTest::qWaitFor([&] { return (running = runningPrograms()).isEmpty(); }, 60000);
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
    const QDir s(m_session->path());
    for (const char* folder : {"home", "config", "tmp", "runtime", "install/App"})
        s.mkpath(folder);
    QFile::setPermissions(s.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeAppSetting("OrvelPath", s.filePath("install"));
    if (installedBuild.isEmpty())
        return true;
    const QString app = s.filePath("install/App");
    if (!copyTree(m_builds + "/" + installedBuild, app))
        return false;
    QProcess manifest;
    manifest.setStandardOutputFile(app + "/liveupdate.json");
    manifest.start(kBin + "/OrvelDevService", {"--manifest", installedBuild + "=" + m_builds + "/" + installedBuild});
    return manifest.waitForFinished(20000) && manifest.exitCode() == 0;
}

bool tst_LauncherEndToEnd::startService(const QStringList& extraArguments)
{
    m_service = std::make_unique<OrvelTest::DevServiceProcess>();
    if (!m_service->start(
            m_state, QStringList{"--publish", "1.0=" + m_builds + "/1.0", "--publish", "1.1=" + m_builds + "/1.1"} +
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
    const QDir s(m_session->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_SCALE_FACTOR", "QT_QPA_PLATFORM", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.remove(name);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", m_display.name());
    env.insert("HOME", s.filePath("home"));
    env.insert("XDG_CONFIG_HOME", s.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", s.filePath("runtime"));
    env.insert("TMPDIR", s.filePath("tmp"));
    const QString browser = kSource + "/tests/e2e/browser";
    env.insert("PATH", browser + ":" + env.value("PATH"));
    env.insert("BROWSER", browser + "/xdg-open");
    env.insert("ORVEL_BROWSER_LOG", s.filePath("browser.log"));
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
    launcher.process.setStandardOutputFile(QDir(m_session->path()).filePath("launcher.out"));
    launcher.process.start(kBin + "/OrvelLauncher", QStringList());
    QVERIFY(launcher.process.waitForStarted(10000));
}

QString tst_LauncherEndToEnd::appSettingsPath() const
{
    // The launcher's ("Orvel", "App") store, as the native format keeps it under its XDG_CONFIG_HOME.
    return QDir(m_session->path()).filePath("config/Orvel/App.conf");
}

void tst_LauncherEndToEnd::writeAppSetting(const QString& key, const QVariant& value)
{
    QSettings store(appSettingsPath(), QSettings::IniFormat);
    store.setValue(key, value);
}

QByteArray tst_LauncherEndToEnd::applicationOutput() const
{
    return fileBytes(QDir(m_session->path()).filePath("launcher.out"));
}

QByteArray tst_LauncherEndToEnd::curl(const QStringList& arguments)
{
    QProcess p;
    p.start("curl", QStringList{"--silent", "--fail", "--max-time", "15", "--cacert",
                                m_serviceInfo.value("ORVEL_CA_CERTIFICATES")} +
                        arguments);
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

// Signs in through the service's form and poll as the launcher's browser sign-in would, and returns the token.
QByteArray tst_LauncherEndToEnd::signInThroughService(const QString& email)
{
    const QString account = m_serviceInfo.value("ORVEL_ACCOUNT_SERVICE_URL");
    const QString instanceId = QStringLiteral("E2eInstance0123456789abcdefghijk");
    curl({"--output", "/dev/null", "--data-urlencode", "InstanceId=" + instanceId, "--data-urlencode", "client=0",
          "--data-urlencode", "returnUrl=/account/signedin", "--data-urlencode", "email=" + email,
          account + "Account/Login"});
    QByteArray token =
        curl({"-H", "Content-Type: application/json", "-H", "api-version: 2.0", "--data",
              "{\"client\":0,\"instanceId\":\"" + instanceId + "\"}", account + "api/Accounts/Login/Instance"});
    return token.replace('"', "");
}

QString tst_LauncherEndToEnd::waitForWindow(const QString& title, int timeoutMs)
{
    QString window;
    (void)QTest::qWaitFor(
        [&] {
            const QByteArray ids =
                m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"}, 5000);
            window = QString::fromLatin1(ids.split('\n').value(0).trimmed());
            return !window.isEmpty();
        },
        timeoutMs);
    if (!window.isEmpty())
        QTest::qWait(300); // let the window finish its first paint before clicking
    return window;
}

bool tst_LauncherEndToEnd::anyWindow(const QString& title)
{
    return !m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"}, 5000)
                .trimmed()
                .isEmpty();
}

QRect tst_LauncherEndToEnd::windowGeometry(const QString& window)
{
    QMap<QString, int> values;
    const QByteArray shell = m_display.run("xdotool", {"getwindowgeometry", "--shell", window});
    for (const QByteArray& line : shell.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2)
            values.insert(QString::fromLatin1(pair[0]), pair[1].toInt());
    }
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

void tst_LauncherEndToEnd::click(const QString& window, const QPoint& inside)
{
    const QPoint at = windowGeometry(window).topLeft() + inside;
    m_display.run("xdotool", {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())});
    QTest::qWait(100);
    m_display.run("xdotool", {"click", "1"});
}

void tst_LauncherEndToEnd::freshInstallUpdatesSignsInAndPlays()
{
    QVERIFY(prepareSession("1.0"));
    QVERIFY(startService());
    Program launcher;
    startLauncher(launcher);

    const QString window = waitForWindow("OrvelLauncher", 20000);
    QVERIFY2(!window.isEmpty(), launcher.err.constData());
    QCOMPARE(windowGeometry(window).size(), QSize(1000, 640));

    // The update runs with the window shown, its install bar on the progress face.
    QVERIFY2(launcher.waitForError("Success for auto-update.", 30000), launcher.err.constData());
    const int shown = launcher.err.indexOf("Window shown");
    QVERIFY(shown >= 0 && shown < launcher.err.indexOf("use thread count:"));
    const QString app = QDir(m_session->path()).filePath("install/App");
    QMap<QString, QByteArray> installed = treeDigest(app);
    const QJsonObject manifest = QJsonDocument::fromJson(fileBytes(app + "/liveupdate.json")).object();
    QCOMPARE(manifest.value("version").toString(), QStringLiteral("1.1"));
    installed.remove("liveupdate.json");
    QCOMPARE(installed, treeDigest(m_builds + "/1.1"));

    // Sign In opens the browser, which signs in; the bar then offers Play.
    QTest::qWait(300);
    click(window, kSignInButton);
    QVERIFY2(launcher.waitForError("successToInstanceLogin", 20000), launcher.err.constData());
    QVERIFY(QTest::qWaitFor(
        [&] { return fileBytes(QDir(m_session->path()).filePath("browser.log")).contains("signed in as e2e@"); },
        10000));
    // The sealed token is stored right before the bar turns to Play, after the avatar's requests (whose nested
    // event loops would otherwise take the click on the sign-in face).
    QVERIFY(QTest::qWaitFor([&] { return fileBytes(appSettingsPath()).contains("JWT="); }, 20000));
    QTest::qWait(300);
    click(window, kPlayButton);

    QVERIFY2(launcher.waitForEnd(20000), launcher.err.constData());
    QCOMPARE(launcher.exitCode(), 0);
    QVERIFY(launcher.err.contains("Orvel execution success."));
    QVERIFY(!launcher.err.contains("Error dialog"));
    // The application opened the sealed token it was handed.
    QVERIFY(QTest::qWaitFor([&] { return applicationOutput().contains("signed in as"); }, 10000));
    QVERIFY2(applicationOutput().startsWith("Orvel 1.1: signed in as e2e@example.com (userId "),
             applicationOutput().constData());
}

void tst_LauncherEndToEnd::storedSignInStartsApplicationWithoutWindow()
{
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService());
    const QByteArray token = signInThroughService("stored@example.com");
    QVERIFY(!token.isEmpty());
    writeAppSetting("StaySignedIn", true);
    writeAppSetting("JWT", Verdant::CryptoUtil().encrypt(token, Account::SealingKey));

    Program launcher;
    startLauncher(launcher);
    bool windowSeen = false;
    (void)QTest::qWaitFor(
        [&] {
            windowSeen = windowSeen || anyWindow("OrvelLauncher");
            return launcher.process.state() == QProcess::NotRunning;
        },
        20000);
    QVERIFY2(launcher.waitForEnd(1000), launcher.err.constData());
    QCOMPARE(launcher.exitCode(), 0);
    QVERIFY(!windowSeen);
    QVERIFY2(!launcher.err.contains("Window shown"), launcher.err.constData());
    QVERIFY(launcher.err.contains("Orvel execution success."));
    QVERIFY(QTest::qWaitFor([&] { return applicationOutput().contains("signed in as"); }, 10000));
    QVERIFY2(applicationOutput().startsWith("Orvel 1.1: signed in as stored@example.com (userId "),
             applicationOutput().constData());
}

void tst_LauncherEndToEnd::newerLauncherShowsNoticeThenConnectPage()
{
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService({"--launcher-version", "2.1.0"}));
    Program launcher;
    startLauncher(launcher);

    const QString notice = waitForWindow("MiniModal", 20000);
    QVERIFY2(!notice.isEmpty(), launcher.err.constData());
    QVERIFY(anyWindow("OrvelLauncher"));
    const QString browserLog = QDir(m_session->path()).filePath("browser.log");
    QVERIFY(!fileBytes(browserLog).contains("/connect")); // only once the notice is closed

    const QRect dialog = windowGeometry(notice);
    click(notice, QPoint(dialog.width() / 2, dialog.height() - 36));
    QVERIFY2(launcher.waitForEnd(15000), launcher.err.constData());
    QCOMPARE(launcher.exitCode(), 0);
    QCOMPARE(fileBytes(browserLog).trimmed(), "open " + m_serviceInfo.value("ORVEL_CONNECT_URL").toUtf8());
    QVERIFY2(!launcher.err.contains("Error dialog"), launcher.err.constData());
    QVERIFY(!anyWindow("MiniModal"));
}

void tst_LauncherEndToEnd::quitDuringDownloadCancelsIt()
{
    // Downloads are redirected to a server that accepts connections and never answers, so they stay in flight.
    QTcpServer silent;
    QList<QTcpSocket*> held;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held << socket;
    });
    QVERIFY(prepareSession("1.0"));
    QVERIFY(startService({"--redirect-downloads", QStringLiteral("https://127.0.0.1:%1/").arg(silent.serverPort())}));
    const QMap<QString, QByteArray> before = treeDigest(QDir(m_session->path()).filePath("install/App"));

    Program launcher;
    startLauncher(launcher);
    const QString window = waitForWindow("OrvelLauncher", 20000);
    QVERIFY2(!window.isEmpty(), launcher.err.constData());
    QVERIFY(QTest::qWaitFor([&] { return !held.isEmpty(); }, 10000));

    click(window, kQuitButton);
    QVERIFY2(launcher.waitForEnd(15000), launcher.err.constData());
    QCOMPARE(launcher.exitCode(), 0);
    QVERIFY2(launcher.err.contains("Auto-update failed."), launcher.err.constData());
    QVERIFY(!launcher.err.contains("Error dialog"));
    QVERIFY(!anyWindow("MiniModal"));
    QCOMPARE(treeDigest(QDir(m_session->path()).filePath("install/App")), before);
    QVERIFY(!QFileInfo::exists(QDir(m_session->path()).filePath("runtime/orvel/OrvelDownload")));
    qDeleteAll(held);
}

void tst_LauncherEndToEnd::secondCopyExitsAtOnce_data()
{
    QTest::addColumn<QString>("firstProgram");
    QTest::newRow("another launcher") << QStringLiteral("OrvelLauncher");
    QTest::newRow("the application") << QStringLiteral("Orvel");
}

void tst_LauncherEndToEnd::secondCopyExitsAtOnce()
{
    QFETCH(QString, firstProgram);
    QVERIFY(prepareSession("1.1"));
    QVERIFY(startService());

    Program first;
    first.process.setProcessEnvironment(launcherEnvironment());
    if (firstProgram == "Orvel") {
        QProcessEnvironment env = launcherEnvironment();
        env.insert("ORVEL_APP_EXIT_AFTER_MS", "15000");
        first.process.setProcessEnvironment(env);
        first.process.start(QDir(m_session->path()).filePath("install/App/Orvel"), QStringList());
        QVERIFY(first.process.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return !first.out.isEmpty(); }, 10000));
    } else {
        startLauncher(first);
        QVERIFY2(!waitForWindow("OrvelLauncher", 20000).isEmpty(), first.err.constData());
    }

    Program second;
    startLauncher(second);
    QVERIFY2(second.waitForEnd(15000), "the second copy kept running");
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(!second.err.contains("Window shown"), second.err.constData());
    QCOMPARE(first.process.state(), QProcess::Running);

    if (firstProgram == "OrvelLauncher") {
        const QString window = waitForWindow("OrvelLauncher", 5000);
        click(window, kQuitButton);
        QVERIFY2(first.waitForEnd(15000), first.err.constData());
        QCOMPARE(first.exitCode(), 0);
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

    const QRect geometry = windowGeometry(dialog);
    click(dialog, QPoint(geometry.width() / 2, geometry.height() - 36));
    QVERIFY2(launcher.waitForEnd(15000), launcher.err.constData());
    QCOMPARE(launcher.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_LauncherEndToEnd)
#include "tst_LauncherEndToEnd.moc"
