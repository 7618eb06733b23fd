// Fetches the newest build's manifest from the update service and downloads every file of it the way an update
// does (collectChangedFiles against an empty installation, then DownloadBatch with its Downloader
// threads). Prints the download's wall time and the peak resident memory of this process.
//
//   orvel_bench_download list              prints the manifest's paths in manifest order
//   orvel_bench_download download OUT_DIR  downloads them into OUT_DIR
//
// The update service base URL and the CA file come from the deployment settings (ORVEL_UPDATE_SERVICE_URL,
// ORVEL_CA_CERTIFICATES), as for the launcher.
#include <cstdio>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <sys/resource.h>

#include "DeploymentSettings.h"
#include "DownloadBatch.h"
#include "Manifest.h"
#include "NetworkWorker.h"
#include "ServiceUrls.h"

int main(int argc, char* argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool list = arguments.size() == 2 && arguments.at(1) == QLatin1String("list");
    if (!list && !(arguments.size() == 3 && arguments.at(1) == QLatin1String("download"))) {
        std::fprintf(stderr, "usage: orvel_bench_download list | download OUT_DIR\n");
        return 2;
    }

    const DeploymentSettings settings = DeploymentSettings::load(QCoreApplication::applicationDirPath());
    // Trust the service's CA alone, as curl --cacert does: loading the system's roots as well costs about 0.3 s
    // here, a start-up cost of the launcher rather than of the download.
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(settings.caCertificatesPath()));
    if (ssl.caCertificates().isEmpty()) {
        std::fprintf(stderr, "no CA certificate in %s\n", qPrintable(settings.caCertificatesPath()));
        return 2;
    }
    QSslConfiguration::setDefaultConfiguration(ssl);
    // An installation without a manifest asks for version 0.0.0.0 and is sent the newest build.
    NetworkWorker worker(nullptr, false);
    worker.get(QNetworkRequest(QUrl(ServiceUrls::appUpdate(settings.updateServiceUrl(), Manifest()))));
    QString refusal;
    const std::optional<Manifest> serverManifest = Manifest::parse(worker.responseJson().object(), &refusal);
    if (!serverManifest) {
        std::fprintf(stderr, "manifest refused: %s\n", qPrintable(refusal));
        return 1;
    }
    QStringList paths;
    const QString outDir = list ? QString() : arguments.at(2);
    const qint64 total = collectChangedFiles(*serverManifest, Manifest(), outDir + "/no installation", paths);
    if (paths.isEmpty()) {
        std::fprintf(stderr, "no files in the manifest\n");
        return 1;
    }
    if (list) {
        for (const QString& path : qAsConst(paths))
            std::printf("%s\n", path.toUtf8().constData());
        return 0;
    }

    DownloadBatch batch;
    QElapsedTimer clock;
    clock.start();
    const double beforeDownload = sinceStart.nsecsElapsed() / 1e9;
    const Failure failure = batch.downloadInParallel(
        paths, ServiceUrls::download(settings.updateServiceUrl(), Manifest(), *serverManifest), outDir,
        serverManifest->sizes(),
        settings.hashAlgorithm() == QLatin1String("sha256") ? serverManifest->hashes() : QHash<QString, QString>());
    const bool ok = !failure.failed();
    if (!ok)
        std::fprintf(stderr, "download failed (%d): %s\n", int(failure.code), qPrintable(failure.detail));
    const double seconds = clock.nsecsElapsed() / 1e9;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ok=%d seconds=%.3f before_download=%.3f peak_rss_mib=%.1f files=%d bytes=%lld\n", ok ? 1 : 0, seconds,
                beforeDownload, usage.ru_maxrss / 1024.0, int(paths.size()), total);
    return ok ? 0 : 1;
}
