// OrvelDevService: the update service and the account web service on one HTTPS origin, for development,
// the demo and the end-to-end tests. See the README's "Dev kit" section.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <memory>
#include <mutex>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include "BuildCatalog.h"
#include "DevService.h"
#include "OrvelVersion.h"

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

// Each setting from the command line, else from the --config file (keys named like the options, relative paths taken
// from the file's folder), else the option's default.
class Settings
{
public:
    Settings(const QCommandLineParser& parser, const QString& configFile) : m_parser(parser), m_configFile(configFile)
    {}

    // False with `error` set when the file is given but cannot be read.
    bool read(QString* error)
    {
        m_values.clear();
        if (m_configFile.isEmpty())
            return true;
        if (!QFileInfo(m_configFile).isReadable()) {
            *error = QStringLiteral("cannot read the configuration %1").arg(m_configFile);
            return false;
        }
        QSettings ini(m_configFile, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError) {
            *error = QStringLiteral("%1 is not a valid configuration file").arg(m_configFile);
            return false;
        }
        for (const QString& key : ini.allKeys())
            m_values.insert(key, ini.value(key));
        return true;
    }

    QString value(const QCommandLineOption& option) const
    {
        const QString name = option.names().constLast();
        if (m_parser.isSet(option) || !m_values.contains(name))
            return m_parser.value(option);
        return m_values.value(name).toStringList().join(QLatin1Char(','));
    }
    QString path(const QCommandLineOption& option) const
    {
        const QString text = value(option);
        if (text.isEmpty() || m_parser.isSet(option))
            return text;
        return QFileInfo(m_configFile).absoluteDir().absoluteFilePath(text);
    }
    // VERSION=FOLDER pairs: those of the command line, else the file's list.
    QStringList publications(const QCommandLineOption& option) const
    {
        if (m_parser.isSet(option) || !m_values.contains(option.names().constLast()))
            return m_parser.values(option);
        QStringList pairs;
        QString version;
        QString folder;
        const QDir base = QFileInfo(m_configFile).absoluteDir();
        for (const QString& pair : m_values.value(option.names().constLast()).toStringList()) {
            const QString trimmed = pair.trimmed();
            pairs << (splitVersionFolder(trimmed, &version, &folder)
                          ? version + QLatin1Char('=') + base.absoluteFilePath(folder)
                          : trimmed);
        }
        return pairs;
    }

private:
    const QCommandLineParser& m_parser;
    QString m_configFile;
    QVariantMap m_values;
};

// A catalog of the given VERSION=FOLDER pairs; null with `error` set (exit code in `code`) when one fails.
std::shared_ptr<BuildCatalog> makeCatalog(const QStringList& pairs, QString* error, int* code)
{
    auto catalog = std::make_shared<BuildCatalog>();
    QString version;
    QString folder;
    for (const QString& pair : pairs) {
        if (!splitVersionFolder(pair, &version, &folder)) {
            *error = QStringLiteral("publish expects VERSION=FOLDER, got \"%1\"").arg(pair);
            *code = 2;
            return nullptr;
        }
        if (!catalog->publish(version, folder, error)) {
            *error = QStringLiteral("cannot publish %1: %2").arg(version, *error);
            *code = 1;
            return nullptr;
        }
    }
    return catalog;
}

void reportPublished(const BuildCatalog& catalog)
{
    for (const BuildCatalog::Build* build : catalog.builds())
        std::fprintf(stderr, "published %s from %s (%d files)\n", qPrintable(build->version), qPrintable(build->folder),
                     build->files.size());
}
} // namespace

int main(int argc, char* argv[])
{
    // Before any thread exists, so every thread inherits the mask and only the waiter below receives them.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    sigaddset(&handledSignals, SIGINT);
    sigaddset(&handledSignals, SIGTERM);
    sigaddset(&handledSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvelDevService"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the update service under /update/ and the account web service under /account/ over HTTPS.\n"
        "Prints ORVEL_CA_CERTIFICATES, ORVEL_UPDATE_SERVICE_URL, ORVEL_ACCOUNT_SERVICE_URL, ORVEL_CONNECT_URL,\n"
        "ORVEL_HASH_ALGORITHM, ORVEL_MANIFEST_PUBLIC_KEY and, last, ORVEL_DEV_SERVICE_PORT as KEY=value lines, then\n"
        "serves until SIGINT or SIGTERM. Manifest answers carry an Ed25519 signature (header X-Orvel-Signature).\n"
        "SIGHUP publishes the builds again (the configuration's list and the files in each folder) without a\n"
        "restart."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("Read settings from an ini file: keys named like these options (publish: a comma-separated "
                       "list); options given here win."),
        QStringLiteral("file"));
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
    const QCommandLineOption publicUrlOption(
        QStringLiteral("public-url"),
        QStringLiteral("Address clients reach the service under, used in every address it hands out "
                       "(default: the host each client asked for)."),
        QStringLiteral("url"));
    const QCommandLineOption certificateOption(
        QStringLiteral("tls-cert"),
        QStringLiteral("Certificate chain (PEM) to serve instead of the service's own (for 127.0.0.1 and localhost)."),
        QStringLiteral("file"));
    const QCommandLineOption keyOption(QStringLiteral("tls-key"),
                                       QStringLiteral("Private key (PEM) of the --tls-cert certificate."),
                                       QStringLiteral("file"));
    const QCommandLineOption signKeyOption(
        QStringLiteral("sign-key"),
        QStringLiteral("Ed25519 private key (PEM, as openssl genpkey -algorithm ed25519 writes it) that signs the "
                       "manifests (default: one made in the state folder)."),
        QStringLiteral("file"));
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
    const QCommandLineOption dropOption(
        QStringLiteral("drop-after-bytes"),
        QStringLiteral("A fault for tests of resumed downloads: the first request without Range for each file longer "
                       "than N bytes is cut after N bytes by closing the connection; later ones are answered in full. "
                       "The access log shows each request's Range header as range=VALUE."),
        QStringLiteral("N"));
    QCommandLineOption lifetimeOption(QStringLiteral("token-lifetime"), QStringLiteral("Token lifetime in seconds."),
                                      QStringLiteral("seconds"), QString::number(7 * 24 * 60 * 60));
    lifetimeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    // For programs that start the service as a child: it ends when they do, even when they crash.
    QCommandLineOption stdinOption(QStringLiteral("stop-on-stdin-close"),
                                   QStringLiteral("Stop when standard input reaches its end."));
    stdinOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({configOption, stateOption, hostOption, portOption, publicUrlOption, certificateOption, keyOption,
                       signKeyOption, publishOption, launcherOption, redirectOption, artworkOption, manifestOption,
                       dropOption, lifetimeOption, stdinOption});
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

    const QString configFile =
        parser.isSet(configOption) ? QFileInfo(parser.value(configOption)).absoluteFilePath() : QString();
    Settings settings(parser, configFile);
    if (!settings.read(&error)) {
        fail(error);
        return 2;
    }
    int code = 0;
    std::shared_ptr<const BuildCatalog> catalog = makeCatalog(settings.publications(publishOption), &error, &code);
    if (!catalog) {
        fail(error);
        return code;
    }

    DevService::Options options;
    bool bPortOk = false;
    bool bLifetimeOk = false;
    options.stateFolder = QDir(settings.path(stateOption)).absolutePath();
    options.host = settings.value(hostOption);
    options.port = settings.value(portOption).toInt(&bPortOk);
    options.publicUrl = settings.value(publicUrlOption);
    options.tlsCertificate = settings.path(certificateOption);
    options.tlsKey = settings.path(keyOption);
    options.signKeyFile = settings.path(signKeyOption);
    options.launcherVersion = settings.value(launcherOption);
    options.redirectDownloads = settings.value(redirectOption);
    options.artworkFile = settings.path(artworkOption);
    options.tokenLifetimeSeconds = parser.value(lifetimeOption).toLongLong(&bLifetimeOk);
    bool bDropOk = true;
    if (parser.isSet(dropOption))
        options.dropAfterBytes = parser.value(dropOption).toLongLong(&bDropOk);
    if (!bPortOk || options.port < 0 || options.port > 65535 || !bLifetimeOk || !bDropOk ||
        options.dropAfterBytes < -1) {
        fail(QStringLiteral("--port, --token-lifetime and --drop-after-bytes expect numbers"));
        return 2;
    }
    if (options.tlsCertificate.isEmpty() != options.tlsKey.isEmpty()) {
        fail(QStringLiteral("--tls-cert and --tls-key go together"));
        return 2;
    }
    const QUrl publicUrl(options.publicUrl, QUrl::StrictMode);
    if (!options.publicUrl.isEmpty() &&
        (!publicUrl.isValid() || publicUrl.scheme() != QLatin1String("https") || publicUrl.host().isEmpty())) {
        fail(QStringLiteral("--public-url expects an https:// address, got \"%1\"").arg(options.publicUrl));
        return 2;
    }

    DevService service(options, catalog);
    if (!service.start(&error)) {
        fail(error);
        return 1;
    }
    const QString origin = service.origin();
    std::printf("ORVEL_CA_CERTIFICATES=%s\nORVEL_UPDATE_SERVICE_URL=%s/update/\nORVEL_ACCOUNT_SERVICE_URL=%s/account/\n"
                "ORVEL_CONNECT_URL=%s/account/connect\nORVEL_HASH_ALGORITHM=sha256\nORVEL_MANIFEST_PUBLIC_KEY=%s\n"
                "ORVEL_DEV_SERVICE_PORT=%d\n",
                qPrintable(service.caCertificatePath()), qPrintable(origin), qPrintable(origin), qPrintable(origin),
                qPrintable(service.manifestPublicKey()), service.port());
    std::fflush(stdout);
    reportPublished(*catalog);
    std::fprintf(stderr, "serving %s/ (browse it%s%s)\n", qPrintable(origin),
                 service.caCertificatePath().isEmpty() ? "" : "; trust ", qPrintable(service.caCertificatePath()));

    std::thread([&service, &settings, &publishOption, handledSignals] {
        int signal = 0;
        while (sigwait(&handledSignals, &signal) == 0 && signal == SIGHUP) {
            // A failure keeps the builds published so far.
            QString reloadError;
            int reloadCode = 0;
            std::shared_ptr<BuildCatalog> fresh;
            if (settings.read(&reloadError))
                fresh = makeCatalog(settings.publications(publishOption), &reloadError, &reloadCode);
            if (!fresh) {
                fail(QStringLiteral("SIGHUP: %1; the published builds stay as they were").arg(reloadError));
                continue;
            }
            reportPublished(*fresh);
            service.replaceCatalog(std::move(fresh));
        }
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
