#pragma once

#include <memory>

#include <QString>

class BuildCatalog;

// One HTTPS origin serving the update service under /update/ and the account web service under /account/.
// Requests are answered on a pool of worker threads; a catalog never changes, but replaceCatalog() swaps in another
// while the service runs (requests under way finish with the one they started with).
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
        QString publicUrl;         // the origin clients reach the service under; empty: from each request's Host
        QString tlsCertificate;    // the operator's certificate chain (PEM) and key; empty: the service's own
        QString tlsKey;
        QString signKeyFile; // PEM private key that signs the manifests; empty: one made in the state folder
        qint64 tokenLifetimeSeconds = 7 * 24 * 60 * 60;
        int workerThreads = 64;
        // A fault for tests: the first request without "Range" for each file longer than this is cut after this many
        // bytes by closing the connection. -1: never.
        qint64 dropAfterBytes = -1;
    };

    DevService(const Options& options, std::shared_ptr<const BuildCatalog> catalog);
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // Prepares certificates, the signing keys and the artwork, and binds the port. False with `error` set.
    bool start(QString* error);

    // Serves until stop() is called (from any thread). False when serving could not begin.
    bool run();
    void stop();
    void replaceCatalog(std::shared_ptr<const BuildCatalog> catalog);

    int port() const;
    // The public URL without a trailing "/", else "https://HOST:PORT" (127.0.0.1 for a wildcard host).
    QString origin() const;
    // The authority that issued the service's own certificate; empty with the operator's certificate.
    QString caCertificatePath() const;
    // Standard Base64 of the raw Ed25519 public key whose signatures the manifest answers carry.
    QString manifestPublicKey() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
