#include <QTcpServer>
#include <QtTest>

#include "DevServiceProcess.h"
#include "UpdateTestFiles.h"
#include "VirtualDisplay.h"

using namespace UpdateTest;

// The built OrvelLauncher driven as a user would: a real X server (Xvfb), the development service over HTTPS on
// loopback, the real copy manager, the stand-in application, a stand-in browser and xdotool for the clicks. The
// launcher's orvel.events lines tell the test how far it got.
namespace {

const QString kBin = QStringLiteral(ORVEL_BIN_DIR);
// Points inside the 1000 x 640 window: the install bar sits at 300, 540 (400 x 100), the close button at 699, 609.
const QPoint kSignInButton(448, 590);
const QPoint kPlayButton(500, 590);
const QPoint kQuitButton(714, 624);
const QByteArray kSignedIn = "Orvel 1.2: signed in as e2e@example.com (userId ";

// A launcher whose error output (events and diagnostics) goes to a file of its own; killed if running when destroyed.
struct Launcher : QProcess
{
    QString errorFile;

    QByteArray err() const { return readFile(errorFile); }
    bool saw(const char* event) const { return err().contains(QByteArray("orvel.events: ") + event + '\n'); }
    bool waitFor(const char* event, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return saw(event); }, timeoutMs);
    }
    bool exitsCleanly(int timeoutMs)
    {
        waitForFinished(timeoutMs);
        return state() == NotRunning && exitStatus() == NormalExit && exitCode() == 0;
    }
};

struct EndCase
{
    QString installed;
    QStringList serviceArguments{};
    QString window = "MiniModal"; // what the user closes: the launcher during its download, or a dialog
    QString dialog{};             // the error dialog's log line; empty: none
    int dialogMs = 30000;         // the dialog at the latest, from the start
    QString service{};            // "silent": accepts connections, never answers; "untrusted": its certificate
};

} // namespace

Q_DECLARE_METATYPE(EndCase)

class tst_LauncherEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("xdotool").isEmpty(), "xdotool is missing (scripts/setup)");
        QVERIFY(m_display.start());
        QVERIFY(m_silent.listen(QHostAddress::LocalHost));
        for (const char* name : {"QT_SCALE_FACTOR", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                 "QT_MESSAGE_PATTERN", "QT_LOGGING_RULES"})
            qunsetenv(name);
        const QByteArray browser = ORVEL_SOURCE_DIR "/tests/e2e/browser";
        qputenv("PATH", browser + ":" + qgetenv("PATH"));
        qputenv("BROWSER", browser + "/xdg-open");
        qputenv("ORVEL_BROWSER_EMAIL", "e2e@example.com");
        qputenv("DISPLAY", m_display.name().toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        QCOMPARE(QProcess::execute(ORVEL_SOURCE_DIR "/devkit/make-builds", {"--bin", kBin, m_root.filePath("builds")}),
                 0);
    }

    void init() { QVERIFY(endPrograms()); }

    void cleanup()
    {
        if (QTest::currentTestFailed() && m_service)
            qInfo().noquote() << "service log:\n" << m_service->accessLog().right(4000);
        endPrograms();
        m_service.reset();
        m_session.reset();
    }

    void updateSignInPlayThenVerify()
    {
        QVERIFY(prepare("1.0"));
        // "Stay signed in" (nothing stored yet): the token the sign-in stores outlives this run.
        QSettings(path("config/Orvel/App.conf"), QSettings::IniFormat).setValue("StaySignedIn", true);
        Launcher launcher;
        QVERIFY(start(launcher, 20000)); // the application stays until the test has started a launcher beside it
        const QString window = waitForWindow("OrvelLauncher", launcher);
        QVERIFY2(!window.isEmpty(), launcher.err().constData());
        Launcher second;
        QVERIFY2(start(second, 1500, true), "a second launcher did not end at once beside the first");
        QVERIFY2(launcher.waitFor("window-raised", 5000), "the second start did not raise the first window");

        // The update runs with the window shown; the installation is then the published 1.2, byte for byte.
        QVERIFY2(launcher.waitFor("update-installed", 60000), launcher.err().constData());
        QVERIFY(launcher.saw("window-shown") &&
                launcher.err().indexOf("window-shown") < launcher.err().indexOf("update-installed"));
        // Begun as soon as the checks answered, before the deferred start, which then only showed the window: one run.
        QCOMPARE(launcher.err().count("orvel.events: update-started\n"), 1);
        QVERIFY(installed("1.2"));

        // Sign In opens the browser, which signs in through the service's form; Play starts the application with the
        // sealed token, and the launcher ends.
        click(window, kSignInButton);
        QVERIFY2(launcher.waitFor("signed-in", 30000), launcher.err().constData());
        click(window, kPlayButton);
        QVERIFY2(launcher.exitsCleanly(30000) && launcher.saw("application-started"), launcher.err().constData());
        QVERIFY(QTest::qWaitFor([&] { return readFile(path("launcher.out")).count(kSignedIn) == 1; }, 20000));
        QVERIFY2(start(second, 1500, true), "a launcher did not end at once beside the application");

        // Signed in, "Stay signed in" and current: the next start plays at once, without a window.
        QVERIFY(endPrograms());
        Launcher signedIn;
        QVERIFY(start(signedIn));
        QVERIFY2(signedIn.exitsCleanly(30000) && signedIn.saw("application-started"), signedIn.err().constData());
        // A window only when the checks answered after the deferred start (a slow build, e.g. with sanitizers).
        const bool late = signedIn.err().contains("Checks not done yet");
        QVERIFY2((late || !signedIn.saw("window-shown")) && !signedIn.saw("error-dialog"), signedIn.err().constData());
        QVERIFY(QTest::qWaitFor([&] { return readFile(path("launcher.out")).count(kSignedIn) == 2; }, 20000));

        // The log of these signed-in runs holds no token, no sealed token and no sign-in secret.
        const QByteArray log = readFile(path("home/.local/state/orvel/launcher.log"));
        const QByteArray sealed =
            QSettings(path("config/Orvel/App.conf"), QSettings::IniFormat).value("JWT").toByteArray();
        const QByteArray instanceId = readFile(path("browser.log")).split('=').value(1).left(32);
        QVERIFY(log.contains("signed-in") && !sealed.isEmpty() && instanceId.size() == 32);
        for (const QByteArray& secret : {sealed.toBase64(QByteArray::Base64UrlEncoding), sealed.toBase64(), instanceId})
            QVERIFY2(!log.contains(secret), secret.constData());
        QVERIFY2(!QRegularExpression("eyJ[\\w-]+\\.eyJ").match(QString::fromUtf8(log)).hasMatch(), log.constData());

        // --verify installs again a file that has other bytes of the same size.
        const QString changed = path("install/App/version.txt");
        writeFile(changed, "X" + readFile(changed).mid(1));
        QVERIFY(endPrograms() && !installed("1.2"));
        Launcher verify;
        QVERIFY(start(verify, 1500, false, {"--verify"}));
        QVERIFY2(verify.waitFor("update-installed", 60000), verify.err().constData());
        QVERIFY(installed("1.2"));
    }

    void endsWithoutInstalling_data()
    {
        QTest::addColumn<EndCase>("c");
        // Downloads redirected to a server that accepts connections and never answers stay in flight.
        QTest::newRow("quit during the download cancels it")
            << EndCase{"1.0", {"--redirect-downloads", silentUrl()}, "OrvelLauncher"};
        QTest::newRow("newer launcher: notice, then the connect page")
            << EndCase{"1.2", {"--launcher-version", "2.1.0"}};
        // Published, then grown: its download no longer has the manifest's size.
        QTest::newRow("damaged download: error dialog")
            << EndCase{"1.0", {}, "MiniModal", "Error dialog, code 7 : Failed to update Orvel."};
        // The checks give up after 60 s; Orvel is installed, so the dialog offers to start it.
        QTest::newRow("silent service: connecting, then offline start")
            << EndCase{"1.2", {}, "MiniModal", "Error dialog, code 4 :", 65000, "silent"};
        QTest::newRow("untrusted certificate: error 12 at once")
            << EndCase{"1.2", {}, "MiniModal", "Error dialog, code 12 :", 5000, "untrusted"};
    }

    void endsWithoutInstalling()
    {
        QFETCH(EndCase, c);
        QVERIFY(prepare(c.installed, c.serviceArguments));
        for (const char* key : {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL"})
            qputenv(key, c.service == "silent" ? silentUrl().toUtf8() : qgetenv(key));
        qputenv("ORVEL_CA_CERTIFICATES", c.service == "untrusted" ? "" : qgetenv("ORVEL_CA_CERTIFICATES"));
        if (c.dialog.contains("code 7"))
            writeFile(path("builds/1.2/version.txt"), readFile(path("builds/1.2/version.txt")) + "damaged");
        QElapsedTimer clock;
        clock.start();
        Launcher launcher;
        QVERIFY(start(launcher));
        // The window comes within 1.5 s, also when the service does not answer or is not trusted.
        const QString main = waitForWindow("OrvelLauncher", launcher);
        QVERIFY2(!main.isEmpty() && (c.service.isEmpty() || clock.elapsed() < 1500),
                 qPrintable(QString::number(clock.elapsed())));
        const QString shown = c.window == "OrvelLauncher" ? main : waitForWindow(c.window, launcher, c.dialogMs);
        QVERIFY2(!shown.isEmpty() && clock.elapsed() < c.dialogMs, launcher.err().constData());
        if (c.window == "OrvelLauncher") {
            QVERIFY(QTest::qWaitFor([&] { return m_silent.hasPendingConnections(); }, 20000));
            click(shown, kQuitButton);
        } else {
            QCOMPARE(launcher.state(), QProcess::Running);        // the dialog waits for the user
            QCOMPARE(readFile(path("browser.log")), "<missing>"); // the connect page only once the notice is closed
            clickOk(shown, c.dialog.contains("code 4") ? 40 : 0); // "Start Orvel" sits right of OK
        }
        QVERIFY2(launcher.exitsCleanly(20000), launcher.err().constData());
        QCOMPARE(launcher.saw("update-failed"), c.installed == "1.0");
        QCOMPARE(launcher.saw("error-dialog"), !c.dialog.isEmpty());
        QVERIFY2(launcher.err().contains(c.dialog.toUtf8()), launcher.err().constData());
        QCOMPARE(launcher.saw("application-started"), c.dialog.contains("code 4"));
        const QByteArray connect = "open " + m_service->value("ORVEL_CONNECT_URL").toUtf8() + "\n";
        QTRY_COMPARE(readFile(path("browser.log")),
                     c.serviceArguments.contains("--launcher-version") ? connect : "<missing>");
        QVERIFY(installed(c.installed));
    }

private:
    QString path(const QString& relative) const { return m_session->filePath(relative); }
    QString silentUrl() const { return QString("https://127.0.0.1:%1/").arg(m_silent.serverPort()); }

    // The launcher refuses to start beside a running launcher or application: this session's programs are stopped, and
    // each case waits until those of any other run on this machine (launcher, application, copy manager) have ended.
    bool endPrograms()
    {
        QStringList running;
        const auto noneLeft = [&] {
            running.clear();
            for (const QString& id : QDir("/proc").entryList(QDir::Dirs)) {
                const QString program = QFileInfo("/proc/" + id + "/exe").symLinkTarget().remove(" (deleted)");
                const QString name = QFileInfo(program).fileName();
                if (name == "OrvelLauncher" || name == "Orvel" || program == kBin + "/OrvelFileCopyManager")
                    running << program;
                if (m_session && program.startsWith(m_session->path()))
                    ::kill(pid_t(id.toInt()), SIGTERM);
            }
            return running.isEmpty();
        };
        if (QTest::qWaitFor(noneLeft, 60000))
            return true;
        qWarning() << "still running:" << running;
        return false;
    }

    // One user's machine with `installed` in its install folder, and a service publishing copies of the builds.
    bool prepare(const QString& installed, const QStringList& serviceArguments = {})
    {
        m_session = std::make_unique<QTemporaryDir>();
        for (const char* folder : {"home", "config", "tmp", "runtime", "install"})
            QDir(m_session->path()).mkpath(folder);
        QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSettings(path("config/Orvel/App.conf"), QSettings::IniFormat).setValue("OrvelPath", path("install"));
        QStringList publish;
        for (const QString version : {"1.0", "1.1", "1.2"})
            publish << "--publish" << version + "=" + path("builds/" + version);
        m_service = std::make_unique<OrvelTest::DevServiceProcess>();
        const QString app = path("install/App");
        if (QProcess::execute("cp", {"-a", m_root.filePath("builds"), path("builds")}) != 0 ||
            QProcess::execute("cp", {"-a", path("builds/" + installed), app}) != 0 ||
            QProcess::execute("sh", {"-c", "\"$0\" --manifest \"$1\" >\"$2\"", kBin + "/OrvelDevService",
                                     installed + "=" + app, app + "/liveupdate.json"}) != 0 ||
            !m_service->start(m_root.filePath("service-state"), publish + serviceArguments))
            return false;
        // The launchers inherit this user's folders and services.
        for (const char* key : {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL", "ORVEL_CONNECT_URL",
                                "ORVEL_CA_CERTIFICATES", "ORVEL_HASH_ALGORITHM"})
            qputenv(key, m_service->value(key).toUtf8());
        qputenv("ORVEL_BROWSER_CA", qgetenv("ORVEL_CA_CERTIFICATES"));
        for (const QString variable :
             {"HOME=home", "XDG_CONFIG_HOME=config", "XDG_RUNTIME_DIR=runtime", "ORVEL_BROWSER_LOG=browser.log"})
            qputenv(qPrintable(variable.section('=', 0, 0)), path(variable.section('=', 1)).toUtf8());
        return true;
    }

    // Starts a launcher and, unless `bRefusalExpected`, waits for its first event. One that ends at once without one
    // was refused beside another run's program (another checkout's tests, a demo): it starts again once that ended.
    bool start(Launcher& launcher, int applicationMs = 1500, bool bRefusalExpected = false,
               const QStringList& arguments = {})
    {
        const auto started = [&] { return launcher.err().contains("orvel.events:"); };
        for (int attempt = 0; attempt < 5; ++attempt) {
            launcher.setEnvironment(QProcess::systemEnvironment()
                                    << "TMPDIR=" + path("tmp")
                                    << "ORVEL_APP_EXIT_AFTER_MS=" + QString::number(applicationMs));
            launcher.setWorkingDirectory(m_session->path());
            // The application inherits the launcher's output and outlives it, so its line is read from a file.
            launcher.setStandardOutputFile(path("launcher.out"), QIODevice::Append);
            launcher.errorFile = path(QString("launcher-%1.err").arg(++m_launchers));
            launcher.setStandardErrorFile(launcher.errorFile);
            launcher.start(kBin + "/OrvelLauncher", arguments);
            if (bRefusalExpected) // at once, with exit code 0, having done nothing
                return launcher.exitsCleanly(30000) && !started();
            (void)QTest::qWaitFor([&] { return started() || launcher.state() == QProcess::NotRunning; }, 60000);
            if (started() || launcher.state() != QProcess::NotRunning || launcher.exitCode() != 0 || !endPrograms())
                return started();
            qInfo("refused beside another run's launcher or application; starting again");
        }
        return false;
    }

    // The install folder holds `version`: its manifest names it, its files are the build's (diff lists any that
    // differ).
    bool installed(const QString& version) const
    {
        const QJsonDocument manifest = QJsonDocument::fromJson(readFile(path("install/App/liveupdate.json")));
        return manifest["version"] == version &&
               QProcess::execute("diff", {"-r", "-q", "--exclude=liveupdate.json", path("install/App"),
                                          m_root.filePath("builds/" + version)}) == 0;
    }

    // The id of the launcher's visible window of this title; empty when none came or the launcher ended (refused).
    QString waitForWindow(const QString& title, Launcher& launcher, int timeoutMs = 30000)
    {
        QString window;
        const auto shownOrEnded = [&] {
            const QByteArray ids = m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
            window = QString::fromLatin1(ids.split('\n').value(0).trimmed());
            return !window.isEmpty() || launcher.state() == QProcess::NotRunning;
        };
        (void)QTest::qWaitFor(shownOrEnded, timeoutMs);
        QTest::qWait(300); // the window's first paint, before any click
        return window;
    }

    void click(const QString& window, const QPoint& inside)
    {
        m_display.run("xdotool", {"mousemove", "--window", window, QString::number(inside.x()),
                                  QString::number(inside.y()), "sleep", "0.1", "click", "1"});
    }

    // OK sits centred near the dialog's bottom edge (a second button moves it left); the height follows the message.
    void clickOk(const QString& dialog, int rightOfCentre = 0)
    {
        QMap<QString, int> geometry;
        for (const QString& line :
             QString::fromLatin1(m_display.run("xdotool", {"getwindowgeometry", "--shell", dialog})).split('\n'))
            geometry.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
        click(dialog, QPoint(geometry.value("WIDTH") / 2 + rightOfCentre, geometry.value("HEIGHT") - 36));
    }

    VirtualDisplay m_display;
    QTemporaryDir m_root;
    std::unique_ptr<QTemporaryDir> m_session;
    std::unique_ptr<OrvelTest::DevServiceProcess> m_service;
    QTcpServer m_silent; // accepts connections, never answers
    int m_launchers = 0;
};

QTEST_GUILESS_MAIN(tst_LauncherEndToEnd)
#include "tst_LauncherEndToEnd.moc"
