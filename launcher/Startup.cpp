#include "Startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFontDatabase>
#include <QIcon>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "DeploymentSettings.h"
#include "DisplayScale.h"
#include "Events.h"
#include "InstallLayout.h"
#include "LauncherArtwork.h"
#include "LauncherLogging.h"
#include "MessageLog.h"
#include "OrvelLauncher.h"
#include "OrvelVersion.h"
#include "Platform.h"
#include "SingleInstance.h"
#include "UiResources.h"
#include "VersionCheck.h"

// Resources are registered from a function outside any namespace.
static QIcon launcherIcon()
{
    Q_INIT_RESOURCE(LauncherIcon);
    // The installed theme icon when there is one, else the same picture built in.
    return QIcon::fromTheme(QStringLiteral(ORVEL_APP_ID),
                            QIcon(QStringLiteral(":/OrvelLauncher/" ORVEL_APP_ID ".svg")));
}

bool Startup::answerCommandLine(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Keeps Orvel current and starts it signed in.\n"
        "The services come from ORVEL_UPDATE_SERVICE_URL, ORVEL_ACCOUNT_SERVICE_URL, ORVEL_CONNECT_URL and\n"
        "ORVEL_CA_CERTIFICATES, else from deployment.ini beside the program or in $XDG_CONFIG_DIRS/orvel/.\n"
        "Qt's own options (-platform, -style, ...) go to the application object."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption verify(
        QStringLiteral("verify"),
        QStringLiteral("Check the installed files against their SHA-256 (ORVEL_HASH_ALGORITHM=sha256) and install "
                       "every file that differs again."));
    parser.addOption(verify);
    // "-reverse" is Qt's option, not -r -e -v ...; errors about Qt's options are not ours to report.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    (void)parser.parse(arguments);
    for (const char* name : {"help", "help-all", "version"}) {
        if (parser.isSet(QLatin1String(name))) {
            // The parser prints its texts and ends the process; they need an application object, and this one
            // opens no display.
            QCoreApplication app(argc, argv);
            QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION));
            parser.process({arguments.constFirst(), QStringLiteral("--") + QLatin1String(name)});
        }
    }
    return parser.isSet(verify);
}

void Startup::raiseWindows()
{
    // Hidden windows stay hidden: the launcher shows its window itself when its checks are done.
    bool raised = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
        raised = true;
    }
    if (raised)
        emitEvent("window-raised");
}

QTranslator* Startup::loadTranslation(const QString& applicationDir, const QLocale& locale)
{
    // Beside the program, or share/orvel/translations of an installed prefix.
    auto* translator = new QTranslator(QCoreApplication::instance());
    for (const QString& folder : {applicationDir + QStringLiteral("/translations"),
                                  applicationDir + QStringLiteral("/../share/orvel/translations")}) {
        if (translator->load(locale, QStringLiteral("orvel"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            qCInfo(lcLauncher).noquote() << "Translation" << translator->filePath();
            return translator;
        }
    }
    delete translator;
    return nullptr;
}

int Startup::loadApplicationFonts(const QString& applicationDir)
{
    const QString folder = InstallLayout::fontFolder(applicationDir);
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.ttf")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    int registered = 0;
    for (const QString& file : files) {
        if (QFontDatabase::addApplicationFont(folder + QLatin1Char('/') + file) != -1)
            ++registered;
    }

    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Noto Sans"));
    QApplication::setFont(font);
    return registered;
}

int Startup::run(int& argc, char** argv)
{
    const bool bVerify = answerCommandLine(argc, argv);
    {
        // Qt reads QT_SCALE_FACTOR and the attributes when the application object is built, so this comes first.
        DisplayScale scale;
        scale.applyScalePreference();
        DisplayScale::setApplicationAttributes();
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION));
    loadTranslation(QCoreApplication::applicationDirPath());
    // One launcher per user: a second start brings the first one's window to the front and ends.
    SingleInstance instance;
    if (!instance.tryAcquire()) {
        SingleInstance::notifyRunning();
        return 0;
    }
    // From here on this is the user's only launcher, so it alone writes the user's log.
    MessageLog log;
    if (!log.isOpen())
        qCWarning(lcLauncher).noquote() << "Cannot write the log" << log.path();
    qCInfo(lcLauncher).noquote() << "OrvelLauncher" << QCoreApplication::applicationVersion() << "started";
    if (Platform::isProcessRunning(Platform::executableName(QStringLiteral("Orvel")))) {
        qCInfo(lcLauncher) << "Orvel is running; the launcher ends";
        return 0;
    }
    QObject::connect(&instance, &SingleInstance::activationRequested, &raiseWindows);
    // The deferred start counts from here, so that the window is built within its half second, not before it.
    QTimer deferredStart;
    deferredStart.setSingleShot(true);
    deferredStart.start(500);
    // The desktop matches the window to its menu entry and shows the launcher's icon; the title stays as it is.
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVEL_APP_ID));
    QApplication::setWindowIcon(launcherIcon());
    initUiResources();
    LauncherArtwork::preloadBackground();

    // Read while the fonts load; the checks install them before their first request.
    DeploymentSettings::current().preloadSystemCaCertificates();
    loadApplicationFonts(QCoreApplication::applicationDirPath());
    // The checks' first request is handed to Qt's network thread now and goes on while the window is built.
    VersionCheck* checks = OrvelLauncher::startChecks();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    int exitCode = 0;
    {
        OrvelLauncher window;
        // Without SHA-256 texts in the manifests there is nothing to check files against.
        const bool bSha256 = DeploymentSettings::current().hashAlgorithm() == QLatin1String("sha256");
        if (bVerify && !bSha256)
            qCWarning(lcLauncher) << "--verify needs ORVEL_HASH_ALGORITHM=sha256; the files are not checked";
        window.setRepair(bVerify && bSha256);
        // The checks go on meanwhile, without blocking it. The window is styled and its native window created (neither
        // shows anything), so that showing it costs a few milliseconds instead of tens.
        QTimer::singleShot(0, &window, [&window, checks] {
            window.beginChecks(checks);
            window.ensurePolished();
            window.winId();
        });
        // The window only appears from here, once the event loop runs; at once when building it took the half second.
        if (deferredStart.isActive())
            QObject::connect(&deferredStart, &QTimer::timeout, &window, &OrvelLauncher::startFlow);
        else
            QTimer::singleShot(0, &window, &OrvelLauncher::startFlow);
        exitCode = app.exec();
        window.reportFailure();
    }
    return exitCode;
}
