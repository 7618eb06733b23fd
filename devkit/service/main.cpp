// OrvelDevService: the update service and the account web service on one HTTPS origin, for development,
// the demo and the end-to-end tests. See the README's "Dev kit" section.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <mutex>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>

#include "BuildCatalog.h"
#include "DevService.h"

namespace {
// How long a stop waits for open connections (idle keep-alive ones included) before the process just ends.
constexpr auto kStopGrace = std::chrono::seconds(2);
std::mutex g_stopMutex;
std::condition_variable g_stopped;
bool g_bStopped = false;

void fail(const QString& message)
{
    std::fprintf(stderr, "OrvelDevService: %s\n", qPrintable(message));
}

// Stops the server; open connections get a short grace, then the process ends itself with 0.
void stopAndExit(DevService* service)
{
    service->stop();
    std::unique_lock<std::mutex> lock(g_stopMutex);
    if (!g_stopped.wait_for(lock, kStopGrace, [] { return g_bStopped; })) {
        std::fflush(stdout);
        std::_Exit(0);
    }
}

bool splitVersionFolder(const QString& argument, QString* version, QString* folder)
{
    const int equals = argument.indexOf(QLatin1Char('='));
    if (equals <= 0 || equals == argument.size() - 1)
        return false;
    *version = argument.left(equals);
    *folder = argument.mid(equals + 1);
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    // Before any thread exists, so every thread inherits the mask and only the waiter below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvelDevService"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the update service under /update/ and the account web service under /account/ over HTTPS.\n"
        "Prints ORVEL_CA_CERTIFICATES, ORVEL_UPDATE_SERVICE_URL, ORVEL_ACCOUNT_SERVICE_URL, ORVEL_CONNECT_URL and,\n"
        "last, ORVEL_DEV_SERVICE_PORT as KEY=value lines, then serves until SIGINT or SIGTERM."));
    parser.addHelpOption();
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        QStringLiteral("Folder for the certificates and the token secret (default: %1).")
            .arg(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)),
        QStringLiteral("dir"), QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port (default 8443); 0 picks a free one."),
                                        QStringLiteral("port"), QStringLiteral("8443"));
    const QCommandLineOption publishOption(QStringLiteral("publish"),
                                           QStringLiteral("Publish the files of a folder as a build (repeatable)."),
                                           QStringLiteral("version=folder"));
    const QCommandLineOption launcherOption(QStringLiteral("launcher-version"),
                                            QStringLiteral("Newest launcher version to list (default 2.0.32)."),
                                            QStringLiteral("x.y.z"), QStringLiteral("2.0.32"));
    const QCommandLineOption redirectOption(
        QStringLiteral("redirect-downloads"),
        QStringLiteral("Answer downloads with a redirect to URL + version + \"/\" + path (a static file server)."),
        QStringLiteral("url"));
    const QCommandLineOption artworkOption(QStringLiteral("artwork"),
                                           QStringLiteral("Picture to publish as the launcher background."),
                                           QStringLiteral("file"));
    const QCommandLineOption manifestOption(QStringLiteral("manifest"),
                                            QStringLiteral("Print the manifest of a folder as published and exit."),
                                            QStringLiteral("version=folder"));
    QCommandLineOption lifetimeOption(QStringLiteral("token-lifetime"), QStringLiteral("Token lifetime in seconds."),
                                      QStringLiteral("seconds"), QString::number(7 * 24 * 60 * 60));
    lifetimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    // For programs that start the service as a child: it ends when they do, even when they crash.
    QCommandLineOption stdinOption(QStringLiteral("stop-on-stdin-close"),
                                   QStringLiteral("Stop when standard input reaches its end."));
    stdinOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({stateOption, hostOption, portOption, publishOption, launcherOption, redirectOption,
                       artworkOption, manifestOption, lifetimeOption, stdinOption});
    parser.process(app);

    QString version;
    QString folder;
    QString error;
    if (parser.isSet(manifestOption)) {
        BuildCatalog::Build build;
        if (!splitVersionFolder(parser.value(manifestOption), &version, &folder)) {
            fail(QStringLiteral("--manifest expects VERSION=FOLDER"));
            return 2;
        }
        if (!BuildCatalog::computeManifest(version, folder, &build, &error)) {
            fail(error);
            return 1;
        }
        const QByteArray json = QJsonDocument(build.manifest).toJson(QJsonDocument::Indented);
        std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
        return 0;
    }

    BuildCatalog catalog;
    for (const QString& argument : parser.values(publishOption)) {
        if (!splitVersionFolder(argument, &version, &folder)) {
            fail(QStringLiteral("--publish expects VERSION=FOLDER, got \"%1\"").arg(argument));
            return 2;
        }
        if (!catalog.publish(version, folder, &error)) {
            fail(QStringLiteral("cannot publish %1: %2").arg(version, error));
            return 1;
        }
    }

    DevService::Options options;
    bool bPortOk = false;
    bool bLifetimeOk = false;
    options.stateFolder = QDir(parser.value(stateOption)).absolutePath();
    options.host = parser.value(hostOption);
    options.port = parser.value(portOption).toInt(&bPortOk);
    options.launcherVersion = parser.value(launcherOption);
    options.redirectDownloads = parser.value(redirectOption);
    options.artworkFile = parser.value(artworkOption);
    options.tokenLifetimeSeconds = parser.value(lifetimeOption).toLongLong(&bLifetimeOk);
    if (!bPortOk || options.port < 0 || options.port > 65535 || !bLifetimeOk) {
        fail(QStringLiteral("--port and --token-lifetime expect numbers"));
        return 2;
    }

    DevService service(options, catalog);
    if (!service.start(&error)) {
        fail(error);
        return 1;
    }
    const QString origin = service.origin();
    std::printf("ORVEL_CA_CERTIFICATES=%s\nORVEL_UPDATE_SERVICE_URL=%s/update/\nORVEL_ACCOUNT_SERVICE_URL=%s/account/\n"
                "ORVEL_CONNECT_URL=%s/account/connect\nORVEL_DEV_SERVICE_PORT=%d\n",
                qPrintable(service.caCertificatePath()), qPrintable(origin), qPrintable(origin), qPrintable(origin),
                service.port());
    std::fflush(stdout);
    for (const BuildCatalog::Build* build : catalog.builds())
        std::fprintf(stderr, "published %s from %s (%d files)\n", qPrintable(build->version), qPrintable(build->folder),
                     build->files.size());
    std::fprintf(stderr, "serving %s/ (browse it; trust %s)\n", qPrintable(origin),
                 qPrintable(service.caCertificatePath()));

    std::thread([&service, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stopAndExit(&service);
    }).detach();
    if (parser.isSet(stdinOption)) {
        std::thread([&service] {
            while (std::fgetc(stdin) != EOF) {
            }
            stopAndExit(&service);
        }).detach();
    }

    const bool bServed = service.run();
    {
        std::lock_guard<std::mutex> lock(g_stopMutex);
        g_bStopped = true;
    }
    g_stopped.notify_all();
    if (!bServed) {
        fail(QStringLiteral("the server stopped unexpectedly"));
        return 1;
    }
    return 0;
}
