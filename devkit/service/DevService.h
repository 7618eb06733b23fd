#pragma once

#include <memory>

#include <QString>

class BuildCatalog;

// One HTTPS origin serving the update service under /update/ and the account web service under /account/.
// Requests are answered on a pool of worker threads; the catalog must not change while the service runs.
class DevService
{
public:
    struct Options
    {
        QString stateFolder;
        QString host = QStringLiteral("127.0.0.1");
        int port = 8443; // 0 picks a free port
        QString launcherVersion = QStringLiteral("2.0.32");
        QString redirectDownloads; // when set, downloads answer 302 to this + version + "/" + path
        QString artworkFile;       // empty: a generated picture
        qint64 tokenLifetimeSeconds = 7 * 24 * 60 * 60;
        int workerThreads = 64;
    };

    DevService(const Options& options, const BuildCatalog& catalog);
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // Prepares certificates, the signing secret and the artwork, and binds the port. False with `error` set.
    bool start(QString* error);

    // Serves until stop() is called (from any thread). False when serving could not begin.
    bool run();
    void stop();

    int port() const;
    QString origin() const; // "https://127.0.0.1:PORT"
    QString caCertificatePath() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
